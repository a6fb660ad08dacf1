#include "StatusReport.h"
#include "NumberText.h"

#include <QJsonArray>

namespace {

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

    struct Main {
        const char* key;
        const char* caption;
        int index;
    };
    for (const Main& m : {Main{"pv", "PV", 0}, Main{"sv", "SV", 2}, Main{"op_percent", "OP %", 1}, Main{"aux", "aux", 3}}) {
        j.insert(QLatin1String(m.key), double(image.Values[std::size_t(m.index)]));
        lines.add(QLatin1String(m.caption), singleText(image.Values[std::size_t(m.index)]));
    }

    QJsonArray settings;
    for (int i = 0; i < 8; ++i) {
        const int reg = 257 + i;
        const double value = double(image.HoldingRegs[std::size_t(256 + i)]);
        QJsonObject o{{QStringLiteral("register"), reg}, {QStringLiteral("value"), value}};
        settings.append(o);
        lines.add(QStringLiteral("HR%1").arg(reg), doubleText(value));
    }
    j.insert(QStringLiteral("alarm_settings"), settings);

    QJsonArray types;
    for (int alarm = 0; alarm < 2; ++alarm) {
        const qint32 type = image.HoldingRegs[std::size_t(13 + alarm)];
        types.append(QJsonObject{{QStringLiteral("alarm"), alarm + 1}, {QStringLiteral("type"), type}});
        lines.add(QStringLiteral("alarm %1 type").arg(alarm + 1), QString::number(type));
    }
    j.insert(QStringLiteral("alarm_types"), types);

    QJsonObject exchanges;
    QStringList counts;
    for (auto [outcome, key] : {std::pair{LinkOutcome::Answered, "answered"}, std::pair{LinkOutcome::Timeout, "timeout"},
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
