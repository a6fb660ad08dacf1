#include "LinkWorker.h"
#include "LinkLog.h"

#include <QElapsedTimer>

#include <algorithm>

LinkWorker::LinkWorker(std::unique_ptr<Modbus485> bus, QObject* parent) : QObject(parent), bus_(std::move(bus))
{
    registerLinkMetaTypes();
    qRegisterMetaType<LineLoopCounters>();
    reopenTimer_ = new QTimer(this);
    reopenTimer_->setInterval(kReopenIntervalMs);
    connect(reopenTimer_, &QTimer::timeout, this, &LinkWorker::tryReopen);
}

LinkWorker::~LinkWorker() = default;

void LinkWorker::openPort(PortSettings settings)
{
    priority_.push_back(OpenJob{settings});
    schedule();
}

void LinkWorker::closePort(int port)
{
    priority_.push_back(CloseJob{port});
    schedule();
}

void LinkWorker::enqueueReads(quint64 ticket, int port, int slave, QVector<ReadRequest> requests)
{
    Batch batch;
    batch.ticket = ticket;
    batch.port = port;
    batch.slave = slave;
    batch.requests = std::move(requests);
    if (line_) {
        // An offline loop is only probed: a window's read of it fails at once
        // instead of costing the line a timeout per request.
        if (!line_->requestRefresh(slave, batch.requests, ticket)) {
            for (const ReadRequest& request : batch.requests) {
                ReadResult skipped;
                skipped.request = request;
                skipped.outcome = LinkOutcome::Skipped;
                skipped.data.fill(0, kReadBufferSize);
                batch.results.push_back(skipped);
            }
            Q_EMIT readsDone(ticket, batch.results);
            return;
        }
        refreshes_.insert(ticket, std::move(batch));
    } else {
        reads_.push_back(std::move(batch));
    }
    schedule();
}

void LinkWorker::addLoop(int slave)
{
    if (!line_) {
        line_ = std::make_unique<LineScheduler>();
        lineClock_.start();
        lineTimer_ = new QTimer(this);
        lineTimer_->setSingleShot(true);
        connect(lineTimer_, &QTimer::timeout, this, &LinkWorker::schedule);
    }
    if (line_->addLoop(slave))
        offline_.insert(slave, false);
    schedule();
}

void LinkWorker::setFocused(int slave)
{
    if (!line_)
        return;
    line_->setFocused(slave);
    schedule();
}

void LinkWorker::enqueueWrite(quint64 ticket, int port, int slave, WriteRequest request)
{
    priority_.push_back(WriteJob{ticket, port, slave, request});
    schedule();
}

QVector<LinkWorker::FinishedWrite> LinkWorker::shutdown(int writeBudgetMs)
{
    stopped_ = true;
    reopenTimer_->stop();
    if (lineTimer_)
        lineTimer_->stop();
    reads_.clear();
    refreshes_.clear();
    QVector<FinishedWrite> finished;
    QElapsedTimer clock;
    clock.start();
    int dropped = 0;
    // Closes keep their place between the writes; opening a port on the way
    // out serves nothing.
    while (!priority_.empty()) {
        PriorityJob job = std::move(priority_.front());
        priority_.pop_front();
        auto* write = std::get_if<WriteJob>(&job);
        if (!write) {
            if (std::holds_alternative<CloseJob>(job))
                runPriority(job);
            continue;
        }
        WriteResult result;
        if (clock.elapsed() < writeBudgetMs) {
            result = performWrite(*bus_, write->port, write->slave, write->request);
            noteOutcome(result.outcome, result.exceptionCode);
            settleOutcomes();
        } else {
            result.request = write->request;
            result.outcome = LinkOutcome::Skipped;
            ++dropped;
            qCWarning(lcLink) << "exit: write" << int(write->request.fn) << write->request.address
                              << write->request.value << "dropped, the line took too long";
        }
        Q_EMIT writeDone(write->ticket, result);
        finished.push_back({write->ticket, result});
    }
    if (!finished.isEmpty())
        qCInfo(lcLink) << "exit:" << finished.size() - dropped << "queued write(s) sent," << dropped << "dropped in"
                       << clock.elapsed() << "ms";
    return finished;
}

void LinkWorker::schedule()
{
    if (stopped_)
        return;
    if (synchronous_) {
        processQueue();
        return;
    }
    if (scheduled_)
        return;
    scheduled_ = true;
    // One library call per event-loop turn, so a write queued meanwhile runs
    // before the next read of a batch.
    QMetaObject::invokeMethod(
        this,
        [this] {
            scheduled_ = false;
            if (processOne())
                schedule();
        },
        Qt::QueuedConnection);
}

void LinkWorker::processQueue()
{
    if (draining_)
        return; // the outer loop picks up what a callback queued
    draining_ = true;
    while (!stopped_ && processOne()) {}
    draining_ = false;
}

// Runs one library exchange (or finishes one batch); returns whether work is left.
bool LinkWorker::processOne()
{
    if (stopped_)
        return false;
    if (!priority_.empty()) {
        PriorityJob job = std::move(priority_.front());
        priority_.pop_front();
        runPriority(job);
    } else if (line_) {
        return runLine();
    } else if (!reads_.empty()) {
        Batch& batch = reads_.front();
        if (batch.results.size() < batch.requests.size())
            runNextRead(batch);
        if (batch.results.size() >= batch.requests.size()) {
            Batch done = std::move(batch);
            reads_.pop_front();
            settleOutcomes();
            Q_EMIT readsDone(done.ticket, done.results);
        }
    }
    return !priority_.empty() || !reads_.empty() || line_;
}

namespace {

LineOutcome lineOutcomeOf(LinkOutcome outcome)
{
    switch (outcome) {
    case LinkOutcome::Answered: return LineOutcome::Answered;
    case LinkOutcome::Timeout: return LineOutcome::Timeout;
    case LinkOutcome::CrcError:
    case LinkOutcome::Other: return LineOutcome::Crc;
    case LinkOutcome::Exception: return LineOutcome::Exception;
    default: return LineOutcome::NotSent; // the line failed, not the loop
    }
}

} // namespace

// One exchange the scheduler asks for; false when the line has nothing to
// do now (a timer or new work wakes it).
bool LinkWorker::runLine()
{
    if (!wantOpen_ || deviceLost_) {
        flushCycles();
        settleOutcomes();
        return false; // the open, or the reopen, schedules the line again
    }
    const quint64 rounds = line_->roundsStarted();
    const std::optional<LineRequest> request = line_->next(lineClock_.elapsed());
    if (line_->roundsStarted() != rounds)
        flushCycles(); // the previous round's shares are complete
    if (!request) {
        flushCycles();
        settleOutcomes();
        if (const std::optional<qint64> at = line_->idleUntilMs())
            lineTimer_->start(int(std::clamp<qint64>(*at - lineClock_.elapsed(), 0, 60000)));
        return false;
    }
    ReadResult result;
    result.request = request->read;
    result.data.fill(0, kReadBufferSize);
    const int rc = callRead(*bus_, openSettings_.port, request->address, request->read,
                            std::span<qint32>(result.data.data(), result.data.size()));
    result.outcome = rc == 0 ? LinkOutcome::Answered : bus_->lastOutcome();
    if (rc == 0)
        result.outcome = LinkOutcome::Answered;
    else if (result.outcome == LinkOutcome::Answered)
        result.outcome = LinkOutcome::Other;
    if (result.outcome == LinkOutcome::Exception)
        result.exceptionCode = bus_->lastExceptionCode();
    noteOutcome(result.outcome, result.exceptionCode);
    Q_EMIT exchangeOn(request->address, result.outcome, result.exceptionCode);
    line_->report(*request, lineOutcomeOf(result.outcome), lineClock_.elapsed());
    deliverLineResult(*request, result);
    return true;
}

void LinkWorker::deliverLineResult(const LineRequest& request, const ReadResult& result)
{
    if (request.kind == LineRequest::Kind::Refresh) {
        if (auto it = refreshes_.find(request.tag); it != refreshes_.end())
            it->results.push_back(result);
    } else {
        appendCycle(request.address, result);
    }
    for (const LineRequest& dropped : line_->takeDropped()) {
        auto it = refreshes_.find(dropped.tag);
        if (dropped.kind != LineRequest::Kind::Refresh || it == refreshes_.end())
            continue;
        ReadResult skipped;
        skipped.request = dropped.read;
        skipped.outcome = LinkOutcome::Skipped;
        skipped.data.fill(0, kReadBufferSize);
        it->results.push_back(skipped);
    }
    finishRefreshes();
    const bool offline = line_->isOffline(request.address);
    if (offline_.value(request.address) != offline) {
        offline_.insert(request.address, offline);
        flushCycles();
        settleOutcomes();
        Q_EMIT loopOffline(request.address, offline);
    }
}

void LinkWorker::appendCycle(int slave, const ReadResult& result)
{
    QVector<ReadResult>& cycle = cycles_[slave];
    // The same block again: this loop's next cycle has begun.
    const bool repeated = std::any_of(cycle.begin(), cycle.end(), [&](const ReadResult& r) {
        return r.request.fn == result.request.fn && r.request.first == result.request.first;
    });
    if (repeated) {
        settleOutcomes();
        Q_EMIT cycleRead(slave, cycle);
        Q_EMIT loopCounters(slave, line_->counters(slave));
        cycle.clear();
    }
    cycle.push_back(result);
}

void LinkWorker::flushCycles()
{
    if (cycles_.isEmpty())
        return;
    settleOutcomes();
    // Ascending addresses, so every round reports its loops in one order.
    QList<int> slaves = cycles_.keys();
    std::sort(slaves.begin(), slaves.end());
    for (const int slave : slaves) {
        QVector<ReadResult>& cycle = cycles_[slave];
        if (cycle.isEmpty())
            continue;
        Q_EMIT cycleRead(slave, cycle);
        Q_EMIT loopCounters(slave, line_->counters(slave));
        cycle.clear();
    }
}

void LinkWorker::finishRefreshes()
{
    for (auto it = refreshes_.begin(); it != refreshes_.end();) {
        if (it->results.size() < it->requests.size()) {
            ++it;
            continue;
        }
        const quint64 ticket = it.key();
        const QVector<ReadResult> results = std::move(it->results);
        it = refreshes_.erase(it);
        settleOutcomes();
        Q_EMIT readsDone(ticket, results);
    }
}

void LinkWorker::runPriority(PriorityJob& job)
{
    if (auto* open = std::get_if<OpenJob>(&job)) {
        const PortSettings& s = open->settings;
        if (wantOpen_ && openSettings_.port != s.port)
            bus_->ClosePort_Modbus(openSettings_.port); // reopening on another port
        wantOpen_ = true;
        deviceLost_ = false;
        openSettings_ = s;
        failedReopens_ = 0;
        const int rc = bus_->OpenPort_Modbus(s.port, s.baudIndex, s.parityIndex);
        if (rc == 0) {
            reopenTimer_->stop();
            setPortState(PortState::Open);
            if (line_)
                schedule();
        } else {
            qCWarning(lcLink) << "port" << s.port << "could not be opened; retrying every" << kReopenIntervalMs << "ms";
            deviceLost_ = true;
            setPortState(failedOpenState());
            reopenTimer_->start();
        }
    } else if (auto* close = std::get_if<CloseJob>(&job)) {
        bus_->ClosePort_Modbus(close->port);
        wantOpen_ = false;
        deviceLost_ = false;
        reopenTimer_->stop();
        setPortState(PortState::Closed);
    } else if (auto* write = std::get_if<WriteJob>(&job)) {
        WriteResult result = performWrite(*bus_, write->port, write->slave, write->request);
        noteOutcome(result.outcome, result.exceptionCode);
        settleOutcomes();
        Q_EMIT writeDone(write->ticket, result);
    }
}

void LinkWorker::runNextRead(Batch& batch)
{
    const ReadRequest& request = batch.requests.at(batch.results.size());
    ReadResult result;
    result.request = request;
    result.data.fill(0, kReadBufferSize);
    if (batch.abandoned) {
        result.outcome = LinkOutcome::Skipped;
        batch.results.push_back(result);
        return;
    }
    const int rc =
        callRead(*bus_, batch.port, batch.slave, request, std::span<qint32>(result.data.data(), result.data.size()));
    result.outcome = rc == 0 ? LinkOutcome::Answered : bus_->lastOutcome();
    if (rc == 0 && result.outcome != LinkOutcome::Answered)
        result.outcome = LinkOutcome::Answered;
    if (result.outcome == LinkOutcome::Exception)
        result.exceptionCode = bus_->lastExceptionCode();
    noteOutcome(result.outcome, result.exceptionCode);
    // A dead line costs one timeout per batch, not one per request. A
    // timeout right after an answer is one silent block, not a dead line:
    // the rest of the batch is still read (a line that dies mid-batch costs
    // two timeouts).
    const bool gone = result.outcome == LinkOutcome::DeviceGone || result.outcome == LinkOutcome::NotOpen;
    if (gone || (result.outcome == LinkOutcome::Timeout && !batch.lastAnswered))
        batch.abandoned = true;
    batch.lastAnswered = result.ok();
    batch.results.push_back(result);
}

void LinkWorker::settleOutcomes()
{
    if (unsettled_.isEmpty())
        return;
    Q_EMIT exchangesSettled(unsettled_);
    unsettled_.clear();
}

void LinkWorker::noteOutcome(LinkOutcome outcome, int exceptionCode)
{
    Q_EMIT exchangeCompleted(outcome);
    unsettled_.append(outcome);
    if (outcome == LinkOutcome::Exception)
        Q_EMIT exceptionAnswered(exceptionCode);
    if (outcome == LinkOutcome::DeviceGone && wantOpen_ && !deviceLost_) {
        qCWarning(lcLink) << "serial device of port" << openSettings_.port << "went away; reopening every"
                          << kReopenIntervalMs << "ms";
        bus_->ClosePort_Modbus(openSettings_.port);
        deviceLost_ = true;
        failedReopens_ = 0;
        setPortState(PortState::CannotOpen);
        reopenTimer_->start();
    }
}

void LinkWorker::tryReopen()
{
    if (!wantOpen_ || stopped_) {
        reopenTimer_->stop();
        return;
    }
    const PortSettings& s = openSettings_;
    if (bus_->OpenPort_Modbus(s.port, s.baudIndex, s.parityIndex) == 0) {
        qCInfo(lcLink) << "port" << s.port << "is back after" << failedReopens_ + 1 << "attempts";
        deviceLost_ = false;
        failedReopens_ = 0;
        reopenTimer_->stop();
        setPortState(PortState::Open);
        if (line_)
            schedule();
        return;
    }
    ++failedReopens_;
    setPortState(failedOpenState());
    // Say it again only now and then: an unplugged adapter may stay away for hours.
    if (failedReopens_ == 10 || failedReopens_ % 600 == 0)
        qCWarning(lcLink) << "port" << s.port << "still cannot be opened after" << failedReopens_ << "attempts";
}

PortState LinkWorker::failedOpenState() const
{
    return bus_->lastOutcome() == LinkOutcome::PortInUse ? PortState::InUse : PortState::CannotOpen;
}

void LinkWorker::setPortState(PortState state)
{
    if (state == portState_)
        return;
    portState_ = state;
    Q_EMIT portStateChanged(state);
}
