#include "StationClock.h"

#include <cmath>

namespace {
const QDate kOleEpoch(1899, 12, 30);
std::function<QDateTime()>& source()
{
    static std::function<QDateTime()> s;
    return s;
}
} // namespace

double OleTime::dayNumber(const QDate& date) { return date.isValid() ? double(kOleEpoch.daysTo(date)) : 0.0; }

double OleTime::dayFraction(const QTime& time)
{
    return time.isValid() ? double(time.msecsSinceStartOfDay() / 1000) / 86400.0 : 0.0;
}

OleStamp OleTime::fromDateTime(const QDateTime& local)
{
    return {dayNumber(local.date()), dayFraction(local.time())};
}

QDate OleTime::toDate(double dayNumber)
{
    if (!std::isfinite(dayNumber))
        return kOleEpoch;
    return kOleEpoch.addDays(qint64(std::floor(dayNumber)));
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

QString OleTime::dateText(double dayNumber) { return toDate(dayNumber).toString(QStringLiteral("yyyy-MM-dd")); }
QString OleTime::timeText(double fraction) { return toTime(fraction).toString(QStringLiteral("HH:mm:ss")); }

QString utcTimeText(const QDateTime& time)
{
    return time.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzzZ"));
}

QDateTime StationClock::now() { return source() ? source()() : QDateTime::currentDateTime(); }

OleStamp StationClock::nowStamp() { return OleTime::fromDateTime(now()); }

void StationClock::setSource(std::function<QDateTime()> s) { source() = std::move(s); }
