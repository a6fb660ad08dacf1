#pragma once
#include "HistoryTypes.h"

#include <QString>
#include <QVector>
#include <functional>
#include <memory>
#include <optional>

class HistoryReader;

// How a trend reaches its history: a HistorySource on this thread answers
// every request before it returns; a HistoryReader answers later, from its
// own thread, and only the newest request is answered at all (a request
// supersedes the ones before it, whose replies are dropped).
class TrendHistory {
public:
    using IdReply = std::function<void(std::optional<qint32>)>;
    using PageReply = std::function<void(std::optional<QVector<HistoryRow>>)>;

    virtual ~TrendHistory() = default;

    static std::unique_ptr<TrendHistory> at(HistorySource* source);
    static std::unique_ptr<TrendHistory> through(HistoryReader* reader);

    virtual bool answersLater() const = 0;
    // A reply is still to come.
    virtual bool waiting() const = 0;
    virtual void newestId(HistoryRing ring, IdReply reply) = 0;
    virtual void loadPage(HistoryRing ring, qint32 pageEndId, qint32 pageSize, PageReply reply) = 0;
    virtual void idNearest(HistoryRing ring, double date, double time, IdReply reply) = 0;
    // False when there is no history at all to ask.
    virtual bool available() const = 0;
    // For work that opens a connection of its own (CSV export); empty: none.
    virtual QString databasePath() const = 0;
    // The synchronous source, when that is what the trend reads.
    virtual HistorySource* source() const { return nullptr; }
};
