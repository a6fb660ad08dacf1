#include "JournalModel.h"
#include "JournalReader.h"
#include "TransitionWatcher.h"
#include "StateColours.h"

#include <QCoreApplication>
#include <QRegularExpression>

#include <vector>

JournalModel::JournalModel(JournalReader& reader, QObject* parent) : QAbstractTableModel(parent), reader_(reader)
{
    connect(&reader_, &JournalReader::pageReady, this, &JournalModel::onPage);
    connect(&reader_, &JournalReader::countReady, this, &JournalModel::onCount);
}

void JournalModel::setFilter(const JournalFilter& filter)
{
    beginResetModel();
    filter_ = filter;
    rows_.clear();
    acked_.clear();
    atEnd_ = false;
    newerRequest_ = 0;
    newerAgain_ = false;
    total_ = -1;
    pageRequest_ = reader_.requestPage(filter_, 0, kPageSize);
    countRequest_ = reader_.requestCount(filter_);
    endResetModel();
}

bool JournalModel::needsAcknowledgement(int row) const { return isRaisedAlarm(rows_.at(row)) && !acked_.at(row); }

void JournalModel::markAcknowledged(const QList<qint64>& ids)
{
    for (int row = 0; row < rows_.size(); ++row)
        if (!acked_[row] && ids.contains(rows_[row].id) && isRaisedAlarm(rows_[row])) {
            acked_[row] = true;
            Q_EMIT dataChanged(index(row, 0), index(row, ColumnCount - 1));
        }
}

int JournalModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : int(rows_.size()); }

int JournalModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : ColumnCount; }

QVariant JournalModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rows_.size())
        return {};
    const JournalEvent& e = rows_.at(index.row());
    if (role == Qt::BackgroundRole)
        return needsAcknowledgement(index.row()) ? QVariant(StateColour::active()) : QVariant();
    if (role == Qt::UserRole)
        return e.id;
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole)
        return {};
    switch (index.column()) {
    case Time: return journalLocalTimeText(e.timeUtc);
    case Kind: return shownKind(e.kind);
    case Source: return e.source;
    case Message: return shownMessage(e.message);
    case Values:
        if (e.oldValue.isNull() && e.newValue.isNull())
            return QString();
        return QStringLiteral("%1 → %2").arg(e.oldValue.isEmpty() ? QStringLiteral("?") : e.oldValue, e.newValue);
    case Result: return e.result;
    case Operator: return e.operatorName;
    case Loop: return e.loop > 0 ? QString::number(e.loop) : QString();
    }
    return {};
}

namespace {

// The station's journal texts as it writes them (Chinese, with %n for the
// parts that vary), most specific first; a stored text that matches one is
// shown in the interface's language, its parts translated in turn.
struct MessageForm {
    const char* context;
    const char* text;
};
constexpr MessageForm kMessageForms[] = {
    {"JournalMessage", QT_TRANSLATE_NOOP("JournalMessage", "修改%1：输入被拒绝")},
    {"JournalMessage", QT_TRANSLATE_NOOP("JournalMessage", "修改%1")},
    {"JournalMessage", JournalForm::kDeviceBack},
    {"JournalMessage", JournalForm::kPortOpened},
    {"JournalMessage", JournalForm::kPortClosed},
    {"JournalMessage", JournalForm::kPortText},
    {"JournalMessage", QT_TRANSLATE_NOOP("JournalMessage", "操作站启动（版本 %1，历史数据库 %2，%3）")},
    {"JournalMessage", QT_TRANSLATE_NOOP("JournalMessage", "操作站停止（端口 %1，%2）")},
    {"JournalMessage", QT_TRANSLATE_NOOP("JournalMessage", "端口 %1 (%2)")},
    {"JournalMessage",
     QT_TRANSLATE_NOOP("JournalMessage", "数据库恢复可写，暂存的样本已补写（最多暂存 %1 条），丢弃 %2 条")},
    {"JournalMessage", QT_TRANSLATE_NOOP("JournalMessage", "数据库恢复可写，暂存的样本已补写（最多暂存 %1 条）")},
    {"LinkHealth", "应答 %1　超时 %2　校验错 %3　异常应答 %4　其他 %5　跳过周期 %6"},
    {"JournalMessage", QT_TRANSLATE_NOOP("JournalMessage", "%1（%2）")},
};
// Whole texts without varying parts.
constexpr MessageForm kMessageWords[] = {
    {"JournalMessage", QT_TRANSLATE_NOOP("JournalMessage", "数据库恢复可写")},
    {"JournalMessage", QT_TRANSLATE_NOOP("JournalMessage", "操作站停止")},
    {"JournalMessage", QT_TRANSLATE_NOOP("JournalMessage", "端口待选择")},
    {"LinkHealth", "端口未打开"},
    {"LinkHealth", "正在连接仪表"},
    {"LinkHealth", "通讯正常"},
    {"LinkHealth", "通讯中断"},
    {"LinkHealth", "端口无法打开"},
};

QString shownPart(const QString& text, int depth)
{
    for (const char* word : journalWords())
        if (text == QString::fromUtf8(word))
            return QCoreApplication::translate("JournalMessage", word);
    for (const MessageForm& w : kMessageWords)
        if (text == QString::fromUtf8(w.text))
            return QCoreApplication::translate(w.context, w.text);
    if (depth > 3)
        return text;
    static const std::vector<QRegularExpression> patterns = [] {
        std::vector<QRegularExpression> p;
        for (const MessageForm& f : kMessageForms) {
            QString re = QRegularExpression::escape(QString::fromUtf8(f.text));
            re.replace(QRegularExpression(QStringLiteral("\\\\?%[1-9]")),
                       QStringLiteral("(.*?)")); // escape() may have put a backslash before %
            p.emplace_back(QStringLiteral("^") + re + QStringLiteral("$"),
                           QRegularExpression::DotMatchesEverythingOption);
        }
        return p;
    }();
    for (std::size_t i = 0; i < patterns.size(); ++i) {
        const QRegularExpressionMatch m = patterns[i].match(text);
        if (!m.hasMatch())
            continue;
        QString shown = QCoreApplication::translate(kMessageForms[i].context, kMessageForms[i].text);
        if (shown == QString::fromUtf8(kMessageForms[i].text))
            return text; // no translation loaded: the stored text as it is
        for (int g = 1; g <= m.lastCapturedIndex(); ++g)
            shown = shown.arg(shownPart(m.captured(g), depth + 1));
        return shown;
    }
    return text;
}

} // namespace

QString shownMessage(const QString& message) { return shownPart(message, 0); }

QString shownKind(const QString& kind)
{
    return QCoreApplication::translate("JournalKind", JournalKind::label(kind).toUtf8().constData());
}

QVariant JournalModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    static const char* const titles[ColumnCount] = {QT_TR_NOOP("时间"),   QT_TR_NOOP("类别"),        QT_TR_NOOP("来源"),
                                                    QT_TR_NOOP("内容"),   QT_TR_NOOP("原值 → 新值"), QT_TR_NOOP("结果"),
                                                    QT_TR_NOOP("操作员"), QT_TR_NOOP("回路")};
    return section >= 0 && section < ColumnCount ? tr(titles[section]) : QVariant();
}

bool JournalModel::canFetchMore(const QModelIndex& parent) const
{
    return !parent.isValid() && !atEnd_ && pageRequest_ == 0;
}

void JournalModel::fetchMore(const QModelIndex& parent)
{
    if (!canFetchMore(parent))
        return;
    pageRequest_ = reader_.requestPage(filter_, rows_.isEmpty() ? 0 : rows_.last().id, kPageSize);
}

void JournalModel::onPage(int request, const QList<JournalEvent>& rows, const QList<bool>& acknowledged)
{
    if (request == newerRequest_) {
        newerRequest_ = 0;
        if (rows.size() >= 10 * kPageSize) {
            setFilter(filter_); // a burst larger than one page: start over
            return;
        }
        if (!rows.isEmpty()) {
            beginInsertRows({}, 0, int(rows.size()) - 1);
            rows_ = rows + rows_;
            acked_ = acknowledged + acked_;
            endInsertRows();
            noteLoops(rows);
            if (total_ >= 0) {
                total_ += int(rows.size());
                Q_EMIT totalCountChanged(total_);
            }
        }
        if (newerAgain_) {
            newerAgain_ = false;
            requestNewer();
        }
        return;
    }
    if (request != pageRequest_)
        return; // an answer for a filter no longer shown
    pageRequest_ = 0;
    atEnd_ = rows.size() < kPageSize;
    if (!rows.isEmpty()) {
        beginInsertRows({}, int(rows_.size()), int(rows_.size() + rows.size()) - 1);
        rows_ += rows;
        acked_ += acknowledged;
        endInsertRows();
        noteLoops(rows);
    }
    Q_EMIT pageLoaded();
}

void JournalModel::noteLoops(const QList<JournalEvent>& rows)
{
    QList<int> loops;
    for (const JournalEvent& e : rows)
        if (e.loop > 0 && !loops.contains(e.loop))
            loops << e.loop;
    if (!loops.isEmpty())
        Q_EMIT loopsSeen(loops);
}

void JournalModel::onCount(int request, int count)
{
    if (request != countRequest_)
        return;
    total_ = count;
    Q_EMIT totalCountChanged(count);
}

void JournalModel::onEventStored()
{
    // The first page is still on its way: it will hold the new row.
    if (rows_.isEmpty() && pageRequest_ != 0)
        return;
    if (newerRequest_ != 0) {
        newerAgain_ = true;
        return;
    }
    requestNewer();
}

void JournalModel::requestNewer()
{
    JournalFilter newer = filter_;
    if (!rows_.isEmpty())
        newer.afterId = rows_.first().id;
    // Rows older than the first page may be new to this filter only if the
    // view was empty; then the top page is the right answer anyway.
    newerRequest_ = reader_.requestPage(newer, 0, 10 * kPageSize);
}

void JournalModel::onResultStored(qint64 id, const QString& result)
{
    for (int row = 0; row < rows_.size(); ++row)
        if (rows_[row].id == id) {
            rows_[row].result = result;
            Q_EMIT dataChanged(index(row, Result), index(row, Result));
            return;
        }
}
