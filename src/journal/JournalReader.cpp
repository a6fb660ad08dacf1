#include "JournalReader.h"

#include <QFile>
#include <QSaveFile>
#include <QThread>

class JournalReader::Worker final : public QObject {
public:
    explicit Worker(QString path) : path_(std::move(path)), store_(connectionName()) {}

    bool ready()
    {
        return store_.isOpen() || store_.open(path_);
    }
    JournalStore& store() { return store_; }

private:
    static QString connectionName()
    {
        static std::atomic<int> next{0};
        return QStringLiteral("journal-reader-%1").arg(next++);
    }
    QString path_;
    JournalStore store_;
};

JournalReader::JournalReader(const QString& path, QObject* parent) : QObject(parent)
{
    qRegisterMetaType<JournalEvent>();
    thread_ = new QThread(this);
    thread_->setObjectName(QStringLiteral("journal-reader"));
    worker_ = new Worker(path);
    worker_->moveToThread(thread_);
    connect(thread_, &QThread::finished, worker_, &QObject::deleteLater);
    thread_->start();
}

JournalReader::~JournalReader()
{
    thread_->quit();
    thread_->wait();
}

int JournalReader::requestPage(const JournalFilter& filter, qint64 beforeId, int limit)
{
    const int n = next_++;
    QMetaObject::invokeMethod(worker_, [this, w = worker_, n, filter, beforeId, limit] {
        QList<bool> acked;
        const QList<JournalEvent> rows = w->ready() ? w->store().page(filter, beforeId, limit, &acked)
                                                    : QList<JournalEvent>();
        Q_EMIT pageReady(n, rows, acked);
    }, Qt::QueuedConnection);
    return n;
}

int JournalReader::requestCount(const JournalFilter& filter)
{
    const int n = next_++;
    QMetaObject::invokeMethod(worker_, [this, w = worker_, n, filter] {
        Q_EMIT countReady(n, w->ready() ? w->store().count(filter) : -1);
    }, Qt::QueuedConnection);
    return n;
}

int JournalReader::requestExport(const JournalFilter& filter, const QString& filePath)
{
    const int n = next_++;
    QMetaObject::invokeMethod(worker_, [this, w = worker_, n, filter, filePath] {
        if (!w->ready()) {
            Q_EMIT exportDone(n, -1, w->store().lastError());
            return;
        }
        // A failed export leaves no half-written file behind.
        QSaveFile file(filePath);
        if (!file.open(QIODevice::WriteOnly)) {
            Q_EMIT exportDone(n, -1, file.errorString());
            return;
        }
        const int rows = w->store().exportCsv(filter, file);
        if (rows < 0 || !file.commit()) {
            Q_EMIT exportDone(n, -1, rows < 0 ? w->store().lastError() : file.errorString());
            return;
        }
        Q_EMIT exportDone(n, rows, QString());
    }, Qt::QueuedConnection);
    return n;
}
