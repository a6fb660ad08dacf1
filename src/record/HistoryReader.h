#pragma once
#include "HistoryTypes.h"

#include <QMetaType>
#include <QObject>
#include <QString>
#include <QVector>
#include <atomic>
#include <functional>
#include <memory>

class HistoryStore;

// One answer of a HistoryReader, tagged with the number its request got.
struct HistoryReply {
    enum class Kind { NewestId, Page, IdNearest };
    quint64 request = 0;
    Kind kind = Kind::Page;
    bool ok = false;
    qint32 id = 0;            // NewestId, IdNearest
    QVector<HistoryRow> rows; // Page
};
Q_DECLARE_METATYPE(HistoryReply)

class HistoryReaderWorker;
class QThread;

// A trend window's history on a thread of its own: the HistoryStore is
// opened there, reopened there after a failure (at most once per retry
// interval, so a dead server costs one connect timeout per interval, not one
// per request) and queried there. Requests return their number at once; the
// answer comes as replied() on this object's thread. A request still queued
// when a newer one is made is skipped: the caller wants only the newest.
class HistoryReader final : public QObject {
    Q_OBJECT
public:
    // The connection is named after `connectionName`, made unique.
    explicit HistoryReader(const QString& connectionName, QObject* parent = nullptr);
    // Does not wait for a worker stuck on the network: it finishes on its own.
    ~HistoryReader() override;

    // Whether a location is worth a reader of its own: true for a server,
    // false for a local file (its pages take about a millisecond).
    static bool wanted(const QString& location);

    void open(const QString& location);
    void close();
    // As last reported by the worker.
    bool isOpen() const { return open_; }
    QString lastError() const { return error_; }
    QString location() const { return location_; }
    void setRetryInterval(int ms);

    quint64 requestNewestId(HistoryRing ring);
    quint64 requestPage(HistoryRing ring, qint32 pageEndId, qint32 pageSize);
    quint64 requestIdNearest(HistoryRing ring, double date, double time);

    // What the worker runs for one request: fills the reply, false when the
    // store failed (the worker then reopens it before the next request).
    using Query = std::function<bool(HistoryStore&, HistoryReply&)>;

signals:
    void replied(const HistoryReply& reply);
    // The store opened, or failed to (again): `error` says why.
    void openChanged(bool open, const QString& error);

private:
    quint64 nextRequest();
    quint64 post(HistoryReply::Kind kind, Query query);

    HistoryReaderWorker* worker_ = nullptr;
    QThread* thread_ = nullptr;
    std::shared_ptr<std::atomic<quint64>> latest_;
    QString location_;
    QString error_;
    bool open_ = false;
};
