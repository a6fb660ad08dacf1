#pragma once
#include <QDateTime>
#include <QString>
#include <functional>

// Dates and times as the history database keeps them: the date as a whole
// OLE automation day number (days since 30 December 1899), the time of day as
// a fraction of a day in whole seconds.
struct OleStamp {
    double date = 0.0;
    double time = 0.0;
};

namespace OleTime {
double dayNumber(const QDate& date);
double dayFraction(const QTime& time); // whole seconds
OleStamp fromDateTime(const QDateTime& local);
QDate toDate(double dayNumber);
QTime toTime(double fraction); // rounded to the second
QString dateText(double dayNumber); // "2026-12-08"
QString timeText(double fraction);  // "14:03:59"
} // namespace OleTime

// The station's one machine-readable time stamp, wherever it leaves the
// station (journal rows, published messages): ISO 8601 in UTC with
// milliseconds, "2026-12-08T14:03:07.123Z". Fixed width, so that stamps sort
// as text.
QString utcTimeText(const QDateTime& time);

// The wall clock the recorder and the trends read. Tests replace it to set
// the time (or turn it back) without touching the system clock.
class StationClock {
public:
    static QDateTime now();
    static OleStamp nowStamp(); // now-date and now-time, whole seconds
    static void setSource(std::function<QDateTime()> source); // empty: system clock
};
