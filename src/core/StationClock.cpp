#include "StationClock.h"

#include <cmath>

namespace {
// Both are read from other files' static initialisers (HistoryExport's
// time span): constructed on first use, never before.
const QDate& oleEpoch()
{
    static const QDate epoch(1899, 12, 30);
    return epoch;
}
const QString& dateTimeFormat()
{
    static const QString format = QStringLiteral("yyyy-MM-dd HH:mm:ss");
    return format;
}
std::function<QDateTime()>& source()
{
    static std::function<QDateTime()> s;
    return s;
}
} // namespace

QDate OleTime::epoch() { return oleEpoch(); }

double OleTime::dayNumber(const QDate& date) { return date.isValid() ? double(oleEpoch().daysTo(date)) : 0.0; }

double OleTime::dayFraction(const QTime& time)
{
    return time.isValid() ? double(time.msecsSinceStartOfDay() / 1000) / 86400.0 : 0.0;
}

OleStamp OleTime::fromDateTime(const QDateTime& local) { return {dayNumber(local.date()), dayFraction(local.time())}; }

QDate OleTime::toDate(double dayNumber)
{
    if (!std::isfinite(dayNumber))
        return oleEpoch();
    return oleEpoch().addDays(qint64(std::floor(dayNumber)));
}

QTime OleTime::toTime(double fraction)
{
    if (!std::isfinite(fraction))
        return QTime(0, 0);
    double seconds = std::round(fraction * 86400.0);
    seconds = std::fmod(seconds, 86400.0);
    if (seconds < 0)
        seconds += 86400.0;
    return QTime(0, 0).addSecs(int(seconds));
}

QString OleTime::dateText(double dayNumber) { return toDate(dayNumber).toString(TimeText::dateFormat()); }
QString OleTime::timeText(double fraction) { return toTime(fraction).toString(TimeText::timeFormat()); }

QString TimeText::format() { return dateTimeFormat(); }
QString TimeText::dateFormat() { return dateTimeFormat().left(10); }
QString TimeText::timeFormat() { return dateTimeFormat().mid(11); }
QString TimeText::text(const QDateTime& time) { return time.toString(dateTimeFormat()); }
QString TimeText::textWithMs(const QDateTime& time) { return time.toString(dateTimeFormat() + QStringLiteral(".zzz")); }
QString TimeText::text(const QDate& date, const QTime& time)
{
    return date.toString(dateFormat()) + QLatin1Char(' ') + time.toString(timeFormat());
}
QDateTime TimeText::fromText(const QString& text) { return QDateTime::fromString(text, dateTimeFormat()); }

QString utcTimeText(const QDateTime& time) { return time.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzzZ")); }

QDateTime StationClock::now() { return source() ? source()() : QDateTime::currentDateTime(); }

OleStamp StationClock::nowStamp() { return OleTime::fromDateTime(now()); }

void StationClock::setSource(std::function<QDateTime()> s) { source() = std::move(s); }
