#pragma once
#include "HistoryTypes.h"

#include <QString>

// One connection to the station database (SQLite through Qt SQL). The
// recorder, the main window and the history window each own one, under their
// own connection name.
class HistoryStore final : public HistorySource {
public:
    explicit HistoryStore(const QString& connectionName);
    ~HistoryStore() override;
    HistoryStore(const HistoryStore&) = delete;
    HistoryStore& operator=(const HistoryStore&) = delete;

    // Opens the file; a missing file (and folder) is created with the three
    // tables, the id indexes and the counter row (0, 0, 0, 0). An existing
    // file's tables are never altered.
    bool open(const QString& path, QString* error = nullptr);
    void close();
    bool isOpen() const;

    std::optional<HistoryCounters> readCounters();
    std::optional<qint32> newestId(HistoryRing ring) override;

    // Stores one sample under `id` (overwriting the row with that id or
    // appending it) and sets the ring's two counter columns to `id`, in one
    // transaction: the counter never names a row that was not written.
    bool writeSample(HistoryRing ring, qint32 id, const OleStamp& stamp, const std::array<float, 4>& values,
                     QString* error = nullptr);

    // The page query text, bounds written ascending in the no-wrap case.
    static QString pageQuery(HistoryRing ring, qint32 pageEndId, qint32 pageSize);
    std::optional<QVector<HistoryRow>> loadPage(HistoryRing ring, qint32 pageEndId, qint32 pageSize) override;

    QString lastError() const { return lastError_; }

private:
    QString connectionName_;
    QString lastError_;
};

// Rdatabj.db in the user's application data folder.
QString defaultDatabasePath();
