#pragma once
#include "JournalStore.h"

#include <QObject>
#include <atomic>
#include <memory>

// Reads the journal for a window on a thread of its own, so paging through
// 200 000 events or exporting them never stalls the GUI. Requests are
// answered in order by queued signals carrying the request's number.
class JournalReader final : public QObject {
    Q_OBJECT
public:
    // How long closing waits for a request under way before leaving it to
    // finish on its own thread.
    static constexpr int kCloseWaitMs = 200;

    explicit JournalReader(const QString& path, QObject* parent = nullptr);
    // Unanswered requests are dropped; never waits longer than kCloseWaitMs.
    ~JournalReader() override;

    // Each returns the request number its answer will carry.
    int requestPage(const JournalFilter& filter, qint64 beforeId, int limit);
    int requestCount(const JournalFilter& filter);
    int requestExport(const JournalFilter& filter, const QString& filePath);
    int requestLoops();

Q_SIGNALS:
    void pageReady(int request, const QList<JournalEvent>& rows, const QList<bool>& acknowledged);
    void countReady(int request, int count);
    void exportDone(int request, int rows, const QString& error); // rows -1 on failure
    void loopsReady(int request, const QList<int>& loops);

private:
    class Worker;
    QThread* thread_ = nullptr;
    Worker* worker_ = nullptr;
    std::shared_ptr<std::atomic<bool>> closing_;
    int next_ = 1;
};
