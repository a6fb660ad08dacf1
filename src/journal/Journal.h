#pragma once
#include "JournalEvent.h"

#include <QCoreApplication>
#include <QHash>
#include <QObject>
#include <QString>

class JournalWriter;
class QThread;

// The GUI thread's handle on the event journal. Recording an event stamps
// it (UTC time, operator) and hands it to the writer thread; nothing here
// waits for the disk. Observers (the window, a publisher) hear every event
// through eventAppended() the moment it is recorded.
class Journal final : public QObject {
    Q_OBJECT
public:
    explicit Journal(const QString& path, QObject* parent = nullptr);
    ~Journal() override;

    QString path() const { return path_; }

    // Records one event; returns its number in this run (for updateResult).
    quint64 append(const QString& kind, const QString& source, const QString& message,
                   const QString& oldValue = QString(), const QString& newValue = QString(),
                   const QString& result = QString());
    quint64 append(JournalEvent event);
    // Replaces the result of an event recorded earlier in this run.
    void updateResult(quint64 seq, const QString& result);
    // Acknowledges alarm events by row id; itself an event.
    void acknowledge(const QList<qint64>& ids);

    bool healthy() const { return healthy_; }
    QString stateText() const { return stateText_; }
    int unacknowledgedAlarms() const { return unacked_; }
    // Of one loop (an address; 0: the station's own events).
    int unacknowledgedAlarms(int loop) const { return unackedByLoop_.value(loop, 0); }

    // Writes what is waiting and lets go of the file (at exit); the only
    // call that waits for the disk.
    void stop();
    // A session ending: what waits goes to the spool now, in case the
    // process ends before stop() (the disk work runs on the writer's thread).
    void spoolHeld();
    // Tests: waits until the writer has tried everything queued so far;
    // true when nothing is left waiting.
    bool sync();
    void setBound(int bound);
    void setCapacity(int events);
    void setRetryInterval(int ms);

Q_SIGNALS:
    void eventAppended(const JournalEvent& event);
    void eventStored(const JournalEvent& event); // written, with its row id
    void resultStored(qint64 id, const QString& result);
    void stateChanged(bool healthy, const QString& text);
    void unacknowledgedAlarmsChanged(int count);
    void unacknowledgedAlarmsByLoopChanged();

private:
    template <typename F> void toWriter(F&& f);

    QString path_;
    QThread* thread_ = nullptr;
    JournalWriter* writer_ = nullptr;
    quint64 nextSeq_ = 1;
    QString operator_;
    bool healthy_ = true;
    QString stateText_ = QCoreApplication::translate("JournalWriter", "事件记录正常");
    int unacked_ = 0;
    QHash<int, int> unackedByLoop_;
};
