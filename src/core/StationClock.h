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
QDate epoch(); // day 0: 30 December 1899
double dayNumber(const QDate& date);
double dayFraction(const QTime& time); // whole seconds
OleStamp fromDateTime(const QDateTime& local);
QDate toDate(double dayNumber);
QTime toTime(double fraction);      // rounded to the second
QString dateText(double dayNumber); // "2026-12-08"
QString timeText(double fraction);  // "14:03:59"
} // namespace OleTime

// The station's local date and time as people read and type it, in windows,
// exports and on the command line: "2026-12-08 14:03:59" (the same form
// everywhere, so a time copied from one place can be pasted into another).
namespace TimeText {
QString format();                          // for QDateTimeEdit::setDisplayFormat and QDateTime::toString
QString dateFormat();                      // its date part, "yyyy-MM-dd"
QString timeFormat();                      // its time part, "HH:mm:ss"
QString text(const QDateTime& time);       // in the time's own zone
QString textWithMs(const QDateTime& time); // "2026-12-08 14:03:59.123"
QString text(const QDate& date, const QTime& time);
QDateTime fromText(const QString& text); // local time; invalid unless exactly of the form
} // namespace TimeText

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
    static OleStamp nowStamp();                               // now-date and now-time, whole seconds
    static void setSource(std::function<QDateTime()> source); // empty: system clock
};
