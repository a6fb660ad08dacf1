#pragma once
#include <QDateTime>
#include <QJsonObject>
#include <QMetaType>
#include <QString>
#include <QStringList>

// What happened, as one journal row. `kind` is one of the names below,
// stored as that text so the database stays readable with any SQLite tool.
namespace JournalKind {
inline constexpr char16_t Alarm[] = u"alarm";
inline constexpr char16_t State[] = u"state";
inline constexpr char16_t Write[] = u"write";
inline constexpr char16_t Link[] = u"link";
inline constexpr char16_t Recorder[] = u"recorder";
inline constexpr char16_t System[] = u"system";
QStringList all();
// The word an alarm event's message carries when the alarm went off
// ("报警1解除（PV 380）"); the other alarm events are alarms raised, the
// only ones an operator acknowledges.
inline constexpr char16_t ClearedWord[] = u"解除";
// The operator's word for a kind ("报警", "写入", ...); the kind itself if unknown.
QString label(const QString& kind);
} // namespace JournalKind

struct JournalEvent {
    qint64 id = 0;   // row id once stored; 0 before
    quint64 seq = 0; // this run's own number, known before the row is stored
    QDateTime timeUtc;
    QString kind;
    QString source;
    QString message;
    QString oldValue; // null = NULL in the table
    QString newValue;
    QString result;
    QString operatorName;
    // The instrument's address on a line of several; 0 for the station's
    // own events and for a station of one instrument (NULL in the table).
    int loop = 0;
};
Q_DECLARE_METATYPE(JournalEvent)

// An alarm that came on (not one that cleared): what waits for 确认.
bool isRaisedAlarm(const JournalEvent& event);

// Rows keep their time as utcTimeText() (StationClock.h) writes it; this reads it back.
QDateTime journalTimeFromText(const QString& text);
// The event's time as the operator reads it, on this PC's clock:
// "2026-12-08 22:03:07.123" (the window and the CSV export alike).
QString journalLocalTimeText(const QDateTime& utc);
// The login name of whoever runs this process.
QString currentOperator();
// The event as the publisher sends it (field names as the table's columns).
QJsonObject toJson(const JournalEvent& event);
