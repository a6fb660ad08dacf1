#pragma once
#include "LineScheduler.h"
#include "LinkTypes.h"
#include "Modbus485.h"
#include "PortSettings.h"

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QTimer>
#include <deque>
#include <memory>
#include <variant>

// Owns the Modbus library and runs its calls one at a time, in order, on its
// own thread (or inline, for tests). Operator writes and port actions go
// ahead of queued reads; a read batch yields between its requests so that a
// write can slip in. A batch gives up at a timeout unless the request just
// before it was answered. When the serial device goes away the worker closes it
// and tries to reopen it about once a second while the port is meant to be
// open.
//
// Given loops (addLoop), the worker serves a line of several instruments: a
// LineScheduler decides every read; each loop's share of a round comes back
// as cycleRead, window reads as readsDone, and writes still go first.
class LinkWorker : public QObject {
    Q_OBJECT
public:
    explicit LinkWorker(std::unique_ptr<Modbus485> bus, QObject* parent = nullptr);
    ~LinkWorker() override;

    // Inline mode: every enqueue runs the queue to completion before it
    // returns, so tests see calls and results at once.
    void setSynchronous(bool on) { synchronous_ = on; }
    Modbus485& bus() { return *bus_; }

    static constexpr int kReopenIntervalMs = 1000;
    // A write takes at most two response timeouts (one repeat), so a dead
    // line holds exit no longer than this plus one write.
    static constexpr int kShutdownWriteBudgetMs = 3000;

    struct FinishedWrite {
        quint64 ticket = 0;
        WriteResult result;
    };

public Q_SLOTS:
    void openPort(PortSettings settings);
    void closePort(int port);
    void enqueueReads(quint64 ticket, int port, int slave, QVector<ReadRequest> requests);
    void enqueueWrite(quint64 ticket, int port, int slave, WriteRequest request);
    // Stops timers and drops queued reads, but first runs the writes already
    // queued (a restore of mode and output asked for as the station closes
    // must not be lost), in order, for at most `writeBudgetMs`: writes not started by
    // then are dropped and reported as Skipped. The port is left as it is.
    // Every result goes out as writeDone, as during the run; the same
    // results are returned for a caller that drives the worker itself.
    QVector<FinishedWrite> shutdown(int writeBudgetMs = kShutdownWriteBudgetMs);

    // A line of several instruments: from the first loop on, reads are the
    // scheduler's; enqueueReads() become window refreshes of that address.
    void addLoop(int slave);
    void setFocused(int slave);

Q_SIGNALS:
    void readsDone(quint64 ticket, QVector<ReadResult> results);
    void writeDone(quint64 ticket, WriteResult result);
    void exchangeCompleted(LinkOutcome outcome);
    // The outcomes since the last report, once per batch or write: one
    // hand-over to the GUI thread instead of one per exchange.
    void exchangesSettled(QVector<LinkOutcome> outcomes);
    void portStateChanged(PortState state);
    // The instrument refused a request with this Modbus exception code.
    void exceptionAnswered(int code);
    // A line of loops: every exchange with the address it was for, and each
    // loop's polled reads, once per round (or per full cycle when focused).
    void exchangeOn(int slave, LinkOutcome outcome, int exceptionCode);
    void cycleRead(int slave, QVector<ReadResult> results);
    void loopOffline(int slave, bool offline);
    void loopCounters(int slave, LineLoopCounters counters);

private:
    struct OpenJob {
        PortSettings settings;
    };
    struct CloseJob {
        int port;
    };
    struct WriteJob {
        quint64 ticket;
        int port;
        int slave;
        WriteRequest request;
    };
    using PriorityJob = std::variant<OpenJob, CloseJob, WriteJob>;
    struct Batch {
        quint64 ticket = 0;
        int port = 0;
        int slave = 0;
        QVector<ReadRequest> requests;
        QVector<ReadResult> results;
        bool lastAnswered = false; // the previous request of this batch got a valid reply
        bool abandoned = false;    // the rest is skipped
    };

    void schedule();
    void processQueue();
    bool processOne();
    void runPriority(PriorityJob& job);
    void runNextRead(Batch& batch);
    void noteOutcome(LinkOutcome outcome, int exceptionCode = 0);
    bool runLine();
    void deliverLineResult(const LineRequest& request, const ReadResult& result);
    void appendCycle(int slave, const ReadResult& result);
    void flushCycles();
    void finishRefreshes();
    void settleOutcomes();
    void setPortState(PortState state);
    void tryReopen();
    PortState failedOpenState() const;

    std::unique_ptr<Modbus485> bus_;
    std::deque<PriorityJob> priority_;
    std::deque<Batch> reads_;
    QVector<LinkOutcome> unsettled_;
    bool synchronous_ = false;
    bool scheduled_ = false;
    bool draining_ = false;
    bool stopped_ = false;

    bool wantOpen_ = false;
    bool deviceLost_ = false;
    PortSettings openSettings_;
    PortState portState_ = PortState::Closed;
    QTimer* reopenTimer_ = nullptr;
    int failedReopens_ = 0;

    // Line of loops only.
    std::unique_ptr<LineScheduler> line_;
    QElapsedTimer lineClock_;
    QTimer* lineTimer_ = nullptr;            // wakes the line when the scheduler is idle until a time
    QHash<quint64, Batch> refreshes_;        // window reads by ticket
    QHash<int, QVector<ReadResult>> cycles_; // each loop's reads since its last cycleRead
    QHash<int, bool> offline_;
};
