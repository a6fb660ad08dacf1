#pragma once
#include "LineScheduler.h"
#include "LinkTypes.h"
#include "Modbus485.h"
#include "PortSettings.h"

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QThread>
#include <functional>
#include <memory>

class LinkWorker;

// The GUI thread's handle on the instrument link. It keeps the PortSettings
// of the last open and passes port and address with every request; requests
// run on the link worker and their results come back as queued callbacks, so
// the GUI thread never waits for the serial line.
//
// Each requester (the polling cycle, a window's refresh) has at most one read
// batch in flight: readBatch() refuses a new one while the previous is still
// queued or running, so a dead line never builds a backlog.
class LinkClient : public QObject {
    Q_OBJECT
public:
    enum class Mode {
        Threaded, // the worker runs on its own thread
        Inline,   // the worker runs on the caller's thread, synchronously (tests)
    };

    using ReadsCallback = std::function<void(const QVector<ReadResult>&)>;
    using WriteCallback = std::function<void(const WriteResult&)>;

    LinkClient(std::unique_ptr<Modbus485> bus, Mode mode, QObject* parent = nullptr);
    // One loop's handle on a line of several instruments that `line` owns:
    // the same interface, for the address `address` only. The line outlives it.
    LinkClient(LinkClient& line, int address, QObject* parent = nullptr);
    ~LinkClient() override;

    bool isLoopChannel() const { return line_ != nullptr; }
    // A loop channel: its main window is open, so it gets the full cycle.
    void setFocused(bool focused);

    // Stores the settings and opens the line; the state moves to open
    // whatever the library answers (portStateChanged() tells the truth).
    void open(const PortSettings& settings);
    // Closes the stored port (0 if it was never opened).
    void close();
    const PortSettings& portSettings() const { return settings_; }
    bool isOpen() const { return line_ ? line_->open_ : open_; }

    // Queues reads for `requester`; `done` runs on the GUI thread unless the
    // requester was destroyed meanwhile. Returns false, and queues nothing,
    // when that requester's previous batch has not come back yet.
    bool readBatch(QObject* requester, const QVector<ReadRequest>& requests, ReadsCallback done);
    bool batchPending(const QObject* requester) const;

    // Queues one write ahead of all queued reads. Register writes are
    // repeated once on -8888; coil writes never.
    void write(QObject* requester, const WriteRequest& request, WriteCallback done = {});

    // Stops the worker thread. Queued reads are dropped; queued writes are
    // still sent (bounded, see LinkWorker::shutdown) and their callbacks run
    // here before this returns. Called at exit.
    void shutdown();

    // For tests in inline mode.
    Modbus485& busForTests();

Q_SIGNALS:
    void exchangeCompleted(LinkOutcome outcome);
    // Every read batch's results, whoever asked (the journal's read-back).
    void readsCompleted(const QVector<ReadResult>& results);
    void portStateChanged(PortState state);
    // A request was refused with this Modbus exception code (the counters).
    void exceptionAnswered(int code);
    // A loop channel: the loop's polled reads, as the line scheduled them.
    void cycleReads(const QVector<ReadResult>& results);
    void offlineChanged(bool offline);
    void countersChanged(const LineLoopCounters& counters);

private:
    struct PendingRead {
        QPointer<QObject> requester;
        const QObject* key = nullptr;
        ReadsCallback done;
        QMetaObject::Connection watch; // forgets the requester if it is destroyed first
    };
    struct PendingWrite {
        QPointer<QObject> requester;
        WriteCallback done;
    };

    void onReadsDone(quint64 ticket, const QVector<ReadResult>& results);
    void onWriteDone(quint64 ticket, const WriteResult& result);
    void onPortState(PortState state);
    template <typename F> void toWorker(F&& f);
    quint64 takeTicket() { return line_ ? line_->nextTicket_++ : nextTicket_++; }

    Mode mode_;
    LinkWorker* worker_ = nullptr;
    QThread* thread_ = nullptr;
    PortSettings settings_;
    bool open_ = false;
    PortState portState_ = PortState::Closed;
    quint64 nextTicket_ = 1;
    QHash<quint64, PendingRead> pendingReads_;
    QHash<const QObject*, quint64> batchOf_;
    QHash<quint64, PendingWrite> pendingWrites_;
    LinkClient* line_ = nullptr; // a loop channel's line
    int address_ = 0;
    QVector<QPointer<LinkClient>> channels_; // a line's loop channels
};
