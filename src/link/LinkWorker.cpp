#include "LinkWorker.h"
#include "LinkLog.h"

#include <QElapsedTimer>

LinkWorker::LinkWorker(std::unique_ptr<Modbus485> bus, QObject* parent)
    : QObject(parent), bus_(std::move(bus))
{
    registerLinkMetaTypes();
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
    reads_.push_back(std::move(batch));
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
    reads_.clear();
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
    QMetaObject::invokeMethod(this, [this] {
        scheduled_ = false;
        if (processOne())
            schedule();
    }, Qt::QueuedConnection);
}

void LinkWorker::processQueue()
{
    if (draining_)
        return; // the outer loop picks up what a callback queued
    draining_ = true;
    while (!stopped_ && processOne()) {
    }
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
    return !priority_.empty() || !reads_.empty();
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
        } else {
            qCWarning(lcLink) << "port" << s.port << "could not be opened; retrying every"
                              << kReopenIntervalMs << "ms";
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
    const int rc = callRead(*bus_, batch.port, batch.slave, request, std::span<qint32>(result.data.data(), result.data.size()));
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
