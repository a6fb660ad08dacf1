#include "LinkClient.h"
#include "LinkLog.h"
#include "LinkWorker.h"

#include <QCoreApplication>

LinkClient::LinkClient(std::unique_ptr<Modbus485> bus, Mode mode, QObject* parent)
    : QObject(parent), mode_(mode)
{
    registerLinkMetaTypes();
    worker_ = new LinkWorker(std::move(bus));
    const Qt::ConnectionType type = mode == Mode::Threaded ? Qt::QueuedConnection : Qt::DirectConnection;
    if (mode == Mode::Threaded) {
        thread_ = new QThread(this);
        thread_->setObjectName(QStringLiteral("px-link"));
        worker_->moveToThread(thread_);
        thread_->start();
    } else {
        worker_->setSynchronous(true);
    }
    connect(worker_, &LinkWorker::readsDone, this, &LinkClient::onReadsDone, type);
    connect(worker_, &LinkWorker::writeDone, this, &LinkClient::onWriteDone, type);
    connect(worker_, &LinkWorker::exchangesSettled, this, [this](const QVector<LinkOutcome>& outcomes) {
        for (LinkOutcome outcome : outcomes)
            Q_EMIT exchangeCompleted(outcome);
    }, type);
    connect(worker_, &LinkWorker::portStateChanged, this, &LinkClient::onPortState, type);
    connect(worker_, &LinkWorker::exceptionAnswered, this, &LinkClient::exceptionAnswered, type);
}

LinkClient::~LinkClient()
{
    shutdown();
    delete worker_;
}

template <typename F>
void LinkClient::toWorker(F&& f)
{
    if (!worker_)
        return;
    if (mode_ == Mode::Inline)
        f();
    else
        QMetaObject::invokeMethod(worker_, std::forward<F>(f), Qt::QueuedConnection);
}

void LinkClient::open(const PortSettings& settings)
{
    settings_ = settings;
    open_ = true;
    toWorker([w = worker_, settings] { w->openPort(settings); });
}

void LinkClient::close()
{
    open_ = false;
    toWorker([w = worker_, port = settings_.port] { w->closePort(port); });
}

bool LinkClient::readBatch(QObject* requester, const QVector<ReadRequest>& requests, ReadsCallback done)
{
    if (batchPending(requester))
        return false;
    const quint64 ticket = nextTicket_++;
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
    const quint64 ticket = nextTicket_++;
    if (done)
        pendingWrites_.insert(ticket, PendingWrite{requester, std::move(done)});
    toWorker([w = worker_, ticket, port = settings_.port, slave = settings_.address, request] {
        w->enqueueWrite(ticket, port, slave, request);
    });
}

void LinkClient::shutdown()
{
    if (!worker_)
        return;
    if (thread_ && thread_->isRunning()) {
        QMetaObject::invokeMethod(worker_, [w = worker_] { w->shutdown(); }, Qt::BlockingQueuedConnection);
        thread_->quit();
        thread_->wait();
    } else {
        worker_->shutdown();
    }
    // The worker reported every queued write it sent at exit; results the
    // event loop has not delivered yet would be lost with it (a write done
    // and never journaled): deliver them now, in order.
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
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
