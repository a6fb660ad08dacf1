#pragma once
#include <QLoggingCategory>
#include <QString>

Q_DECLARE_LOGGING_CATEGORY(lcRecord)

// Whether a failure that comes back on every retry is worth a log line: a
// full disk may last for days. Yes the first time, whenever the reason
// changes, after 10 attempts and then every 600 (about ten minutes at one
// attempt a second).
class RepeatedFailureLog {
public:
    // Counts one failed attempt for `reason`.
    bool shouldLog(const QString& reason);
    int attempts() const { return attempts_; }
    // After a success: the next failure is news again.
    void reset();

private:
    int attempts_ = 0;
    QString logged_;
};
