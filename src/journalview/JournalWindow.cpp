#include "JournalWindow.h"
#include "CommonTexts.h"

#include <algorithm>
#include "Journal.h"
#include "JournalModel.h"
#include "JournalReader.h"
#include "PopupKeys.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStandardPaths>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

namespace {
template <typename W> W* named(W* widget, const char* name)
{
    widget->setObjectName(QLatin1String(name));
    return widget;
}
} // namespace

JournalWindow::JournalWindow(Journal& journal, QWidget* parent) : QWidget(parent), journal_(journal)
{
    setObjectName(QStringLiteral("JournalWindow"));
    setWindowTitle(tr("事件记录"));
    reader_ = new JournalReader(journal_.path(), this);
    model_ = new JournalModel(*reader_, this);

    kind_ = named(new QComboBox(this), "JournalKind");
    kind_->addItem(tr("全部类别"), QString());
    for (const QString& kind : JournalKind::all())
        kind_->addItem(shownKind(kind), kind);
    loop_ = named(new QComboBox(this), "JournalLoop");
    loop_->addItem(tr("全部回路"), 0);
    loop_->addItem(tr("全站"), JournalFilter::kStationOnly);
    loop_->setVisible(false);
    range_ = named(new QComboBox(this), "JournalRange");
    range_->addItem(tr("全部时间"), int(Range::All));
    range_->addItem(tr("今天"), int(Range::Today));
    range_->addItem(tr("24小时"), int(Range::Day));
    range_->addItem(tr("7天"), int(Range::Week));
    range_->addItem(tr("选定时段"), int(Range::Chosen));
    const QDateTime now = QDateTime::currentDateTime();
    from_ = named(new QDateTimeEdit(now.addDays(-1), this), "JournalFrom");
    to_ = named(new QDateTimeEdit(now, this), "JournalTo");
    for (QDateTimeEdit* edit : {from_, to_}) {
        edit->setDisplayFormat(QStringLiteral("yyyy-MM-dd HH:mm"));
        edit->setCalendarPopup(true);
        edit->setEnabled(false);
        // The style's size hint leaves out the popup arrow: the minutes were cut off.
        edit->setMinimumWidth(edit->fontMetrics().horizontalAdvance(QStringLiteral("0000-00-00 00:00")) + 48);
    }
    search_ = named(new QLineEdit(this), "JournalSearch");
    search_->setPlaceholderText(tr("搜索"));
    search_->setClearButtonEnabled(true);
    unacknowledged_ = named(new QCheckBox(tr("仅未确认报警"), this), "JournalUnacknowledged");

    table_ = named(new QTableView(this), "JournalTable");
    table_->setModel(model_);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->verticalHeader()->hide();
    // Fixed row heights and no content-based sizing: the view never walks
    // all rows, so a long journal opens at once.
    table_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table_->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    table_->horizontalHeader()->setStretchLastSection(false);
    int widths[JournalModel::ColumnCount] = {170, 50, 90, 360, 120, 150, 80, 50};
    // The kind's words are the language's: as wide as the widest of them, or its header.
    const QFontMetrics metrics = table_->fontMetrics();
    int kindWidth = table_->horizontalHeader()->fontMetrics().horizontalAdvance(
        model_->headerData(JournalModel::Kind, Qt::Horizontal, Qt::DisplayRole).toString());
    for (const QString& kind : JournalKind::all())
        kindWidth = std::max(kindWidth, metrics.horizontalAdvance(shownKind(kind)));
    widths[JournalModel::Kind] = std::max(widths[JournalModel::Kind], kindWidth + 16);
    for (int c = 0; c < JournalModel::ColumnCount; ++c)
        table_->setColumnWidth(c, widths[c]);
    table_->horizontalHeader()->setSectionResizeMode(JournalModel::Message, QHeaderView::Stretch);
    table_->setColumnHidden(JournalModel::Loop, true);

    ackButton_ = named(new QPushButton(tr("确认"), this), "JournalAck");
    exportButton_ = named(new QPushButton(CommonText::exportCsv(), this), "JournalExport");
    returnButton_ = named(new QPushButton(CommonText::back(), this), "JournalReturn");
    for (QPushButton* b : {ackButton_, exportButton_, returnButton_})
        b->setAutoDefault(false);
    count_ = named(new QLabel(this), "JournalCount");
    message_ = named(new QLabel(this), "JournalMessage");

    auto* filters = new QHBoxLayout;
    filters->addWidget(kind_);
    filters->addWidget(loop_);
    filters->addWidget(range_);
    filters->addWidget(from_);
    filters->addWidget(new QLabel(tr("至"), this));
    filters->addWidget(to_);
    filters->addWidget(search_, 1);
    filters->addWidget(unacknowledged_);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(count_);
    bottom->addWidget(message_, 1);
    bottom->addWidget(ackButton_);
    bottom->addWidget(exportButton_);
    bottom->addWidget(returnButton_);
    auto* rows = new QVBoxLayout(this);
    rows->addLayout(filters);
    rows->addWidget(table_, 1);
    rows->addLayout(bottom);

    searchDelay_ = new QTimer(this);
    searchDelay_->setSingleShot(true);
    searchDelay_->setInterval(300);
    connect(searchDelay_, &QTimer::timeout, this, &JournalWindow::applyFilter);
    connect(search_, &QLineEdit::textChanged, searchDelay_, qOverload<>(&QTimer::start));
    connect(kind_, &QComboBox::currentIndexChanged, this, &JournalWindow::applyFilter);
    connect(loop_, &QComboBox::currentIndexChanged, this, &JournalWindow::applyFilter);
    connect(unacknowledged_, &QCheckBox::toggled, this, &JournalWindow::applyFilter);
    connect(range_, &QComboBox::currentIndexChanged, this, [this] {
        const bool chosen = Range(range_->currentData().toInt()) == Range::Chosen;
        from_->setEnabled(chosen);
        to_->setEnabled(chosen);
        applyFilter();
    });
    connect(from_, &QDateTimeEdit::dateTimeChanged, this, &JournalWindow::applyFilter);
    connect(to_, &QDateTimeEdit::dateTimeChanged, this, &JournalWindow::applyFilter);
    connect(ackButton_, &QPushButton::clicked, this, &JournalWindow::acknowledgeSelected);
    connect(exportButton_, &QPushButton::clicked, this, &JournalWindow::chooseExportFile);
    connect(returnButton_, &QPushButton::clicked, this, &JournalWindow::returnRequested);
    // Esc with a filter's list or calendar open closes that alone.
    PopupKeys::escapeClicks(this, returnButton_);

    connect(model_, &JournalModel::totalCountChanged, this, &JournalWindow::showCount);
    connect(model_, &JournalModel::loopsSeen, this, &JournalWindow::addLoops);
    connect(reader_, &JournalReader::loopsReady, this, [this](int request, const QList<int>& loops) {
        if (request == loopsRequest_)
            addLoops(loops);
    });
    loopsRequest_ = reader_->requestLoops();
    connect(&journal_, &Journal::eventStored, model_, &JournalModel::onEventStored);
    connect(&journal_, &Journal::resultStored, model_, &JournalModel::onResultStored);
    connect(reader_, &JournalReader::exportDone, this, [this](int request, int rows, const QString& error) {
        if (request != exportRequest_)
            return;
        message_->setText(rows >= 0 ? tr("已导出 %1 条").arg(rows) : tr("导出失败：%1").arg(error));
        Q_EMIT exportFinished(rows, error);
    });
    applyFilter();
}

JournalWindow::~JournalWindow() = default;

JournalFilter JournalWindow::rangeFilter(Range range, const QDateTime& now, const QDateTime& from, const QDateTime& to)
{
    JournalFilter f;
    switch (range) {
    case Range::All: break;
    case Range::Today: f.fromUtc = QDateTime(now.date(), QTime(0, 0)).toUTC(); break;
    case Range::Day: f.fromUtc = now.addSecs(-24 * 3600).toUTC(); break;
    case Range::Week: f.fromUtc = now.addDays(-7).toUTC(); break;
    case Range::Chosen:
        f.fromUtc = from.toUTC();
        f.toUtc = to.toUTC();
        break;
    }
    return f;
}

JournalFilter JournalWindow::currentFilter(const QDateTime& now) const
{
    JournalFilter f = rangeFilter(Range(range_->currentData().toInt()), now, from_->dateTime(), to_->dateTime());
    f.kind = kind_->currentData().toString();
    f.loop = loop_->currentData().toInt();
    f.text = search_->text().trimmed();
    f.unacknowledgedOnly = unacknowledged_->isChecked();
    return f;
}

void JournalWindow::showUnacknowledgedAlarms()
{
    {
        const QSignalBlocker quiet[] = {QSignalBlocker(kind_), QSignalBlocker(loop_), QSignalBlocker(range_),
                                        QSignalBlocker(search_), QSignalBlocker(unacknowledged_)};
        kind_->setCurrentIndex(kind_->findData(QString::fromUtf16(JournalKind::Alarm)));
        loop_->setCurrentIndex(0);
        range_->setCurrentIndex(range_->findData(int(Range::All)));
        from_->setEnabled(false);
        to_->setEnabled(false);
        search_->clear();
        unacknowledged_->setChecked(true);
    }
    searchDelay_->stop();
    applyFilter();
}

void JournalWindow::applyFilter()
{
    count_->setText(tr("正在读取…"));
    model_->setFilter(currentFilter());
}

void JournalWindow::addLoops(const QList<int>& loops)
{
    for (const int loop : loops) {
        if (loop <= 0 || loop_->findData(loop) >= 0)
            continue;
        // In address order after "全部回路" and "全站"; the chosen item stays chosen.
        int at = 2;
        while (at < loop_->count() && loop_->itemData(at).toInt() < loop)
            ++at;
        const QSignalBlocker quiet(loop_);
        loop_->insertItem(at, tr("%1号").arg(loop), loop);
    }
    if (loop_->count() > 2 && !loop_->isVisibleTo(this)) {
        loop_->setVisible(true);
        table_->setColumnHidden(JournalModel::Loop, false);
    }
}

void JournalWindow::showCount(int count)
{
    count_->setText(count < 0 ? tr("事件记录无法读取") : tr("共 %1 条").arg(count));
}

int JournalWindow::acknowledgeSelected()
{
    QList<qint64> ids;
    for (const QModelIndex& index : table_->selectionModel()->selectedRows())
        if (model_->needsAcknowledgement(index.row()))
            ids << model_->event(index.row()).id;
    if (ids.isEmpty())
        return 0;
    journal_.acknowledge(ids);
    model_->markAcknowledged(ids);
    return int(ids.size());
}

void JournalWindow::exportTo(const QString& path)
{
    message_->setText(tr("正在导出…"));
    exportRequest_ = reader_->requestExport(currentFilter(), path);
}

void JournalWindow::chooseExportFile()
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    const QString suggested =
        tr("%1/事件记录_%2.csv").arg(folder, QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd_HHmmss")));
    const QString path =
        QFileDialog::getSaveFileName(this, CommonText::exportCsv(), suggested, QStringLiteral("CSV (*.csv)"));
    if (!path.isEmpty())
        exportTo(path);
}

void JournalWindow::closeEvent(QCloseEvent* event)
{
    // The close box is a second "返回": the opener takes the window down.
    event->ignore();
    Q_EMIT returnRequested();
}
