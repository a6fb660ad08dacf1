#include "JournalReader.h"
#include "HandOver.h"
#include "LeftThreads.h"

#include <QFile>
#include <QSaveFile>
#include <QThread>

// Lives on the reader's thread; answers through its own signals, so an
// answer that comes after the reader went reaches nobody.
class JournalReader::Worker final : public QObject {
    Q_OBJECT
public:
    Worker(QString path, std::shared_ptr<std::atomic<bool>> closing)
        : path_(std::move(path)), store_(connectionName()), closing_(std::move(closing))
    {
    }

    // False once the reader is closing: what is still queued is skipped.
    bool wanted() const { return !closing_->load(); }
    bool ready() { return store_.isOpen() || store_.open(path_); }
    JournalStore& store() { return store_; }

Q_SIGNALS:
    void pageReady(int request, const QList<JournalEvent>& rows, const QList<bool>& acknowledged);
    void countReady(int request, int count);
    void exportDone(int request, int rows, const QString& error);
    void loopsReady(int request, const QList<int>& loops);

private:
    static QString connectionName()
    {
        static std::atomic<int> next{0};
        return QStringLiteral("journal-reader-%1").arg(next++);
    }
    QString path_;
    JournalStore store_;
    std::shared_ptr<std::atomic<bool>> closing_;
};

JournalReader::JournalReader(const QString& path, QObject* parent)
    : QObject(parent), closing_(std::make_shared<std::atomic<bool>>(false))
{
    qRegisterMetaType<JournalEvent>();
    thread_ = new QThread; // no parent: it may outlive this object
    thread_->setObjectName(QStringLiteral("journal-reader"));
    worker_ = new Worker(path, closing_);
    worker_->moveToThread(thread_);
    connect(thread_, &QThread::finished, worker_, &QObject::deleteLater);
    relay(worker_, &Worker::pageReady, this, &JournalReader::pageReady);
    relay(worker_, &Worker::countReady, this, &JournalReader::countReady);
    relay(worker_, &Worker::exportDone, this, &JournalReader::exportDone);
    relay(worker_, &Worker::loopsReady, this, &JournalReader::loopsReady);
    thread_->start();
}

JournalReader::~JournalReader()
{
    closing_->store(true);
    thread_->quit();
    // As a trend's history reader: a window closes at once, a request still
    // waiting on a server or a lock finishes on its own.
    if (thread_->wait(kCloseWaitMs)) {
        delete thread_;
        return;
    }
    leaveThreadToFinish(thread_);
}

int JournalReader::requestPage(const JournalFilter& filter, qint64 beforeId, int limit)
{
    const int n = next_++;
    postTo(worker_, [w = worker_, n, filter, beforeId, limit] {
        if (!w->wanted())
            return;
        QList<bool> acked;
        const QList<JournalEvent> rows =
            w->ready() ? w->store().page(filter, beforeId, limit, &acked) : QList<JournalEvent>();
        Q_EMIT w->pageReady(n, rows, acked);
    });
    return n;
}

int JournalReader::requestCount(const JournalFilter& filter)
{
    const int n = next_++;
    postTo(worker_, [w = worker_, n, filter] {
        if (w->wanted())
            Q_EMIT w->countReady(n, w->ready() ? w->store().count(filter) : -1);
    });
    return n;
}

int JournalReader::requestLoops()
{
    const int n = next_++;
    postTo(worker_, [w = worker_, n] {
        if (w->wanted())
            Q_EMIT w->loopsReady(n, w->ready() ? w->store().loops() : QList<int>());
    });
    return n;
}

int JournalReader::requestExport(const JournalFilter& filter, const QString& filePath)
{
    const int n = next_++;
    postTo(worker_, [w = worker_, n, filter, filePath] {
        if (!w->wanted())
            return;
        if (!w->ready()) {
            Q_EMIT w->exportDone(n, -1, w->store().lastError());
            return;
        }
        // A failed export leaves no half-written file behind.
        QSaveFile file(filePath);
        if (!file.open(QIODevice::WriteOnly)) {
            Q_EMIT w->exportDone(n, -1, file.errorString());
            return;
        }
        const int rows = w->store().exportCsv(filter, file);
        if (rows < 0 || !file.commit()) {
            Q_EMIT w->exportDone(n, -1, rows < 0 ? w->store().lastError() : file.errorString());
            return;
        }
        Q_EMIT w->exportDone(n, rows, QString());
    });
    return n;
}

#include "JournalReader.moc"
