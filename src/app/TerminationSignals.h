#pragma once
#include <QObject>
#include <csignal>

class QSocketNotifier;

// SIGTERM, SIGINT and SIGHUP (service manager, Ctrl-C, logout) as a Qt
// signal on the thread that built this object, so the station can end as
// it does when the operator closes it: journal entry, recorder flushed.
// The handler only writes the signal number into a socket pair (all it may
// safely do); a socket notifier picks it up in the event loop. After the
// first one the previous handlers are back, so a second Ctrl-C ends a
// station that hangs while closing. One instance per process.
class TerminationSignals final : public QObject {
    Q_OBJECT
public:
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;

Q_SIGNALS:
    void received(int signalNumber);

private:
    static void onSignal(int signalNumber);
    void readSignal();
    void restoreHandlers();

    int fds_[2] = {-1, -1};
    QSocketNotifier* notifier_ = nullptr;
    struct sigaction previous_[3] = {};
    bool installed_[3] = {};
};
