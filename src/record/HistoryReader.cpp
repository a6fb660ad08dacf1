#include "HistoryReader.h"

#include "HandOver.h"
#include "HistoryEngine.h"
#include "HistoryLocation.h"
#include "HistoryStore.h"
#include "LeftThreads.h"
#include "RecordLog.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QList>
#include <QPointer>
#include <QThread>
#include <functional>

// Lives on the reader's thread; everything here may wait on the network.
class HistoryReaderWorker final : public QObject {
    Q_OBJECT
public:
    HistoryReaderWorker(const QString& connectionName, std::shared_ptr<std::atomic<quint64>> latest)
        : store_(connectionName), latest_(std::move(latest))
    {
    }

    void open(const QString& location)
    {
        location_ = location;
        tryOpen();
    }

    void close()
    {
        location_.clear();
        store_.close();
    }

    void setRetryInterval(int ms) { retryMs_ = qMax(0, ms); }

    // `query` fills the reply and returns false when the store failed (not
    // when it merely found nothing).
    void answer(HistoryReply reply, const HistoryReader::Query& query)
    {
        // A newer request is queued behind this one: nobody waits for this answer.
        if (reply.request < latest_->load())
            return;
        if (ready()) {
            if (!query(store_, reply)) {
                // The server may have gone away: open again before the next
                // request (not before the retry interval).
                qCDebug(lcRecord) << "history read failed on" << store_.displayName() << store_.lastError();
                store_.close();
                report(false, store_.lastError());
                clock_.start();
            }
        }
        emit replied(reply);
    }

signals:
    void replied(const HistoryReply& reply);
    void openChanged(bool open, const QString& error);

private:
    bool ready()
    {
        if (store_.isOpen())
            return true;
        if (location_.isEmpty() || (clock_.isValid() && clock_.elapsed() < retryMs_))
            return false;
        tryOpen();
        return store_.isOpen();
    }

    void tryOpen()
    {
        QString error;
        const bool ok = store_.open(location_, &error);
        if (retryMs_ < 0)
            retryMs_ = store_.retryIntervalMs();
        clock_.start();
        report(ok, error);
    }

    void report(bool ok, const QString& error)
    {
        if (ok == reportedOpen_ && error == reportedError_)
            return;
        if (!ok)
            qCWarning(lcRecord) << "trend history unavailable:" << error;
        reportedOpen_ = ok;
        reportedError_ = error;
        emit openChanged(ok, error);
    }

    HistoryStore store_;
    std::shared_ptr<std::atomic<quint64>> latest_;
    QString location_;
    QElapsedTimer clock_; // since the last open attempt or failure
    int retryMs_ = -1;    // -1: the store's own interval
    bool reportedOpen_ = false;
    QString reportedError_;
};

HistoryReader::HistoryReader(const QString& connectionName, QObject* parent)
    : QObject(parent), latest_(std::make_shared<std::atomic<quint64>>(0))
{
    qRegisterMetaType<HistoryReply>();
    // A reader left finishing a request may still hold its connection.
    static std::atomic<int> readers{0};
    worker_ = new HistoryReaderWorker(QStringLiteral("%1-reader-%2").arg(connectionName).arg(++readers), latest_);
    thread_ = new QThread;
    thread_->setObjectName(QStringLiteral("history-reader"));
    worker_->moveToThread(thread_);
    relay(worker_, &HistoryReaderWorker::replied, this, &HistoryReader::replied);
    relay(worker_, &HistoryReaderWorker::openChanged, this, [this](bool open, const QString& error) {
        open_ = open;
        error_ = error;
        emit openChanged(open, error);
    });
    thread_->start();
}

HistoryReader::~HistoryReader()
{
    // Whatever is still queued is skipped, then the worker goes on its own
    // thread (its connection was made there).
    latest_->store(~quint64(0));
    postTo(worker_, [w = worker_] { delete w; });
    thread_->quit();
    if (thread_->wait(200)) {
        delete thread_;
        return;
    }
    // Still waiting on a connect: let it finish and clean up after itself.
    qCDebug(lcRecord) << "history reader left to finish its request";
    leaveThreadToFinish(thread_);
}

bool HistoryReader::wanted(const QString& location)
{
    const auto parsed = HistoryLocation::parse(location);
    return parsed && parsed->server;
}

void HistoryReader::open(const QString& location)
{
    location_ = location;
    postTo(worker_, [w = worker_, location] { w->open(location); });
}

void HistoryReader::close()
{
    location_.clear();
    open_ = false;
    latest_->store(nextRequest());
    postTo(worker_, [w = worker_] { w->close(); });
}

void HistoryReader::setRetryInterval(int ms)
{
    postTo(worker_, [w = worker_, ms] { w->setRetryInterval(ms); });
}

quint64 HistoryReader::nextRequest()
{
    static std::atomic<quint64> counter{0};
    return ++counter;
}

quint64 HistoryReader::post(HistoryReply::Kind kind, Query query)
{
    HistoryReply reply;
    reply.request = nextRequest();
    reply.kind = kind;
    latest_->store(reply.request);
    postTo(worker_, [w = worker_, reply, query = std::move(query)] { w->answer(reply, query); });
    return reply.request;
}

quint64 HistoryReader::requestNewestId(HistoryRing ring)
{
    return post(HistoryReply::Kind::NewestId, [ring](HistoryStore& store, HistoryReply& r) {
        const auto id = store.newestId(ring);
        r.ok = id.has_value();
        r.id = id.value_or(0);
        return r.ok;
    });
}

quint64 HistoryReader::requestPage(HistoryRing ring, qint32 pageEndId, qint32 pageSize)
{
    return post(HistoryReply::Kind::Page, [=](HistoryStore& store, HistoryReply& r) {
        auto rows = store.loadPage(ring, pageEndId, pageSize);
        r.ok = rows.has_value();
        if (rows)
            r.rows = std::move(*rows);
        return r.ok;
    });
}

quint64 HistoryReader::requestIdNearest(HistoryRing ring, double date, double time)
{
    return post(HistoryReply::Kind::IdNearest, [=](HistoryStore& store, HistoryReply& r) {
        const auto id = store.idNearest(ring, date, time);
        r.ok = id.has_value();
        r.id = id.value_or(0);
        // Nothing found is an answer too: an empty ring.
        return true;
    });
}

#include "HistoryReader.moc"
