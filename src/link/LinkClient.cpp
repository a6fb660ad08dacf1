#include "LinkClient.h"
#include "LinkLog.h"
#include "LinkWorker.h"
#include "HandOver.h"

#include <QCoreApplication>

LinkClient::LinkClient(std::unique_ptr<Modbus485> bus, Mode mode, QObject* parent) : QObject(parent), mode_(mode)
{
    registerLinkMetaTypes();
    worker_ = new LinkWorker(std::move(bus));
    if (mode == Mode::Threaded) {
        thread_ = new QThread(this);
        thread_->setObjectName(QStringLiteral("px-link"));
        worker_->moveToThread(thread_);
        thread_->start();
    } else {
        worker_->setSynchronous(true);
    }
    relay(worker_, &LinkWorker::readsDone, this, &LinkClient::onReadsDone);
    relay(worker_, &LinkWorker::writeDone, this, &LinkClient::onWriteDone);
    relay(worker_, &LinkWorker::exchangesSettled, this, [this](const QVector<LinkOutcome>& outcomes) {
        for (LinkOutcome outcome : outcomes)
            Q_EMIT exchangeCompleted(outcome);
    });
    relay(worker_, &LinkWorker::portStateChanged, this, &LinkClient::onPortState);
    relay(worker_, &LinkWorker::exceptionAnswered, this, &LinkClient::exceptionAnswered);
}

LinkClient::LinkClient(LinkClient& line, int address, QObject* parent)
    : QObject(parent), mode_(line.mode_), worker_(line.worker_), settings_(line.settings_), open_(line.open_),
      portState_(line.portState_), line_(&line), address_(address)
{
    settings_.address = address;
    line.channels_.append(this);
    relay(worker_, &LinkWorker::readsDone, this, &LinkClient::onReadsDone);
    relay(worker_, &LinkWorker::writeDone, this, &LinkClient::onWriteDone);
    relay(worker_, &LinkWorker::exchangeOn, this, [this](int slave, LinkOutcome outcome, int code) {
        if (slave != address_)
            return;
        Q_EMIT exchangeCompleted(outcome);
        if (outcome == LinkOutcome::Exception)
            Q_EMIT exceptionAnswered(code);
    });
    relay(worker_, &LinkWorker::cycleRead, this, [this](int slave, const QVector<ReadResult>& results) {
        if (slave != address_)
            return;
        Q_EMIT readsCompleted(results); // the journal's read-back sees them as any read
        Q_EMIT cycleReads(results);
    });
    relay(worker_, &LinkWorker::loopOffline, this, [this](int slave, bool offline) {
        if (slave == address_)
            Q_EMIT offlineChanged(offline);
    });
    relay(worker_, &LinkWorker::loopCounters, this, [this](int slave, const LineLoopCounters& counters) {
        if (slave == address_)
            Q_EMIT countersChanged(counters);
    });
    connect(&line, &LinkClient::portStateChanged, this, &LinkClient::onPortState);
    toWorker([w = worker_, address] { w->addLoop(address); });
}

LinkClient::~LinkClient()
{
    if (line_)
        return; // the line owns the worker
    shutdown();
    delete worker_;
}

void LinkClient::setFocused(bool focused)
{
    if (!line_)
        return;
    toWorker([w = worker_, slave = focused ? address_ : 0] { w->setFocused(slave); });
}

template <typename F> void LinkClient::toWorker(F&& f)
{
    if (!worker_)
        return;
    if (mode_ == Mode::Inline)
        f();
    else
        postTo(worker_, std::forward<F>(f));
}

void LinkClient::open(const PortSettings& settings)
{
    if (line_) {
        // The loop's address stays; the line opens once for all its loops.
        settings_ = settings;
        settings_.address = address_;
        const PortSettings& now = line_->settings_;
        if (!line_->open_ || now.port != settings.port || now.baudIndex != settings.baudIndex
            || now.parityIndex != settings.parityIndex)
            line_->open(settings);
        return;
    }
    settings_ = settings;
    open_ = true;
    // The loops of a line show the line's settings with their own address.
    for (const QPointer<LinkClient>& channel : channels_) {
        if (!channel)
            continue;
        channel->settings_ = settings;
        channel->settings_.address = channel->address_;
    }
    toWorker([w = worker_, settings] { w->openPort(settings); });
}

void LinkClient::close()
{
    if (line_) {
        line_->close();
        return;
    }
    open_ = false;
    toWorker([w = worker_, port = settings_.port] { w->closePort(port); });
}

bool LinkClient::readBatch(QObject* requester, const QVector<ReadRequest>& requests, ReadsCallback done)
{
    if (batchPending(requester))
        return false;
    const quint64 ticket = takeTicket();
    // A destroyed requester's address may be reused by a new object: forget
    // the old batch's claim on it at once.
    QMetaObject::Connection watch = connect(requester, &QObject::destroyed, this, [this, requester, ticket] {
        if (batchOf_.value(requester) == ticket)
            batchOf_.remove(requester);
    });
    pendingReads_.insert(ticket, PendingRead{requester, requester, std::move(done), watch});
    batchOf_.insert(requester, ticket);
    toWorker([w = worker_, ticket, port = settings_.port, slave = settings_.address, requests] {
        w->enqueueReads(ticket, port, slave, requests);
    });
    return true;
}

bool LinkClient::batchPending(const QObject* requester) const { return batchOf_.contains(requester); }

void LinkClient::write(QObject* requester, const WriteRequest& request, WriteCallback done)
{
    const quint64 ticket = takeTicket();
    if (done)
        pendingWrites_.insert(ticket, PendingWrite{requester, std::move(done)});
    toWorker([w = worker_, ticket, port = settings_.port, slave = settings_.address, request] {
        w->enqueueWrite(ticket, port, slave, request);
    });
}

void LinkClient::shutdown()
{
    if (line_) {
        line_->shutdown();
        return;
    }
    if (!worker_)
        return;
    if (thread_ && thread_->isRunning()) {
        runAndWait(worker_, [w = worker_] { w->shutdown(); });
        thread_->quit();
        thread_->wait();
    } else {
        worker_->shutdown();
    }
    // The worker reported every queued write it sent at exit; results the
    // event loop has not delivered yet would be lost with it (a write done
    // and never journaled): deliver them now, in order.
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    for (const QPointer<LinkClient>& channel : channels_) {
        if (!channel)
            continue;
        QCoreApplication::sendPostedEvents(channel, QEvent::MetaCall);
        channel->pendingReads_.clear();
        channel->pendingWrites_.clear();
        channel->batchOf_.clear();
    }
    pendingReads_.clear();
    pendingWrites_.clear();
    batchOf_.clear();
}

Modbus485& LinkClient::busForTests() { return worker_->bus(); }

void LinkClient::onReadsDone(quint64 ticket, const QVector<ReadResult>& results)
{
    const auto it = pendingReads_.find(ticket);
    if (it == pendingReads_.end())
        return;
    PendingRead pending = std::move(*it);
    pendingReads_.erase(it);
    disconnect(pending.watch);
    if (batchOf_.value(pending.key) == ticket)
        batchOf_.remove(pending.key);
    Q_EMIT readsCompleted(results);
    if (pending.requester && pending.done)
        pending.done(results);
}

void LinkClient::onWriteDone(quint64 ticket, const WriteResult& result)
{
    const auto it = pendingWrites_.find(ticket);
    if (it == pendingWrites_.end())
        return;
    PendingWrite pending = std::move(*it);
    pendingWrites_.erase(it);
    if (pending.requester && pending.done)
        pending.done(result);
}

void LinkClient::onPortState(PortState state)
{
    portState_ = state;
    Q_EMIT portStateChanged(state);
}
