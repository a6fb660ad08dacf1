#include "StatusReport.h"
#include "MonitorTables.h"
#include "NumberText.h"

#include <QJsonArray>

namespace {

using namespace MonitorTables;

const StateRow* stateRowFor(BitTable table, int bit)
{
    for (const StateRow& row : stateRows())
        if (row.table == table && row.bit == bit)
            return &row;
    return nullptr;
}

// Text lines as "caption  value", the captions padded to one column.
class Lines {
public:
    void add(const QString& caption, const QString& value) { rows_.append({caption, value}); }
    QString text() const
    {
        int width = 0;
        for (const auto& r : rows_)
            width = qMax(width, displayWidth(r.first));
        QString out;
        for (const auto& r : rows_)
            out += r.first + QString(width - displayWidth(r.first) + 2, QLatin1Char(' ')) + r.second + u'\n';
        return out;
    }

private:
    // A CJK character takes two terminal columns.
    static int displayWidth(const QString& s)
    {
        int w = 0;
        for (QChar c : s)
            w += c.unicode() >= 0x2E80 ? 2 : 1;
        return w;
    }
    QList<QPair<QString, QString>> rows_;
};

} // namespace

StatusReport StatusReport::from(const LiveImage& image, const QMap<LinkOutcome, int>& counters)
{
    StatusReport r;
    Lines lines;
    QJsonObject& j = r.json_;

    for (const MonitorBlock::Value& m : MonitorBlock::values()) {
        if (!m.statusKey)
            continue;
        j.insert(QLatin1String(m.statusKey), jsonNumber(image.Values[std::size_t(m.index)]));
        lines.add(QLatin1String(m.statusCaption), singleText(image.Values[std::size_t(m.index)]));
    }

    // The alarm and break settings as the main window's frame shows them:
    // the row's caption, the value scaled as its label shows it.
    QJsonArray settings;
    for (const MonitorBlock::Value& v : MonitorBlock::values()) {
        if (v.block != MonitorBlock::Settings)
            continue;
        const double value = jsonNumber(image.Values[std::size_t(v.index)]) / v.divisor;
        const QString caption = QString::fromUtf8(v.caption);
        settings.append(QJsonObject{{QStringLiteral("register"), v.written},
                                    {QStringLiteral("caption"), caption},
                                    {QStringLiteral("value"), value}});
        lines.add(caption, doubleText(value));
    }
    j.insert(QStringLiteral("alarm_settings"), settings);

    QJsonArray types;
    for (const AlarmTypeRow& row : alarmTypeRows()) {
        const qint32 type = image.HoldingRegs[std::size_t(typeIndex(row))];
        const auto shown = alarmTypeText(row.alarm, type);
        // A type the instrument does not define has no wording; say so.
        const QString text = shown ? shown->text : QString();
        types.append(QJsonObject{{QStringLiteral("alarm"), row.alarm + 1},
                                 {QStringLiteral("type"), type},
                                 {QStringLiteral("text"), shown ? QJsonValue(text) : QJsonValue()}});
        lines.add(QStringLiteral("alarm %1 type").arg(row.alarm + 1),
                  shown ? text : QStringLiteral("%1 (not a defined type)").arg(type));
    }
    j.insert(QStringLiteral("alarm_types"), types);

    // Alarm outputs, sensor faults and modes, tested and worded as the main
    // window's state labels are (a sensor fault only when its bit is 1).
    // The alarm outputs and sensor faults, then the modes in the order of the
    // window's mode labels.
    QList<const MonitorBlock::Bit*> bits;
    for (const MonitorBlock::Bit& b : MonitorBlock::bits())
        if (b.table == BitTable::Input)
            bits << &b;
    for (const ModeRow& mode : modeRows())
        bits << MonitorBlock::bitOf(BitTable::Coil, mode.coil - 1);
    QJsonObject states;
    for (const MonitorBlock::Bit* b : std::as_const(bits)) {
        const StateRow* row = stateRowFor(b->table, b->bit);
        if (!row)
            continue;
        const bool on = stateIsOn(*row, image);
        const QString word = stateText(*row, on);
        states.insert(QLatin1String(b->statusKey),
                      QJsonObject{{QStringLiteral("on"), on},
                                  {QStringLiteral("text"), word.isEmpty() ? QJsonValue() : QJsonValue(word)}});
        lines.add(QLatin1String(b->statusCaption), word.isEmpty() ? QStringLiteral("-") : word);
    }
    j.insert(QStringLiteral("states"), states);

    QJsonObject exchanges;
    QStringList counts;
    for (auto [outcome, key] :
         {std::pair{LinkOutcome::Answered, "answered"}, std::pair{LinkOutcome::Timeout, "timeout"},
          std::pair{LinkOutcome::CrcError, "crc_error"}, std::pair{LinkOutcome::Exception, "exception"}}) {
        exchanges.insert(QLatin1String(key), counters.value(outcome));
        counts.append(QStringLiteral("%1 %2").arg(QLatin1String(key)).arg(counters.value(outcome)));
    }
    int other = 0;
    for (auto it = counters.begin(); it != counters.end(); ++it)
        if (it.key() != LinkOutcome::Answered && it.key() != LinkOutcome::Timeout && it.key() != LinkOutcome::CrcError
            && it.key() != LinkOutcome::Exception)
            other += it.value();
    exchanges.insert(QStringLiteral("other"), other);
    counts.append(QStringLiteral("other %1").arg(other));
    j.insert(QStringLiteral("exchanges"), exchanges);
    lines.add(QStringLiteral("exchanges"), counts.join(QStringLiteral(", ")));
    r.text_ = lines.text();
    return r;
}
