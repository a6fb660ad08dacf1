#include "TrendHistory.h"

#include "HistoryReader.h"
#include "TrendLog.h"

#include <QObject>

namespace {

class SourceHistory final : public TrendHistory {
public:
    explicit SourceHistory(HistorySource* source) : source_(source) {}

    bool answersLater() const override { return false; }
    bool waiting() const override { return false; }
    void newestId(HistoryRing ring, IdReply reply) override { reply(source_ ? source_->newestId(ring) : std::nullopt); }
    void loadPage(HistoryRing ring, qint32 pageEndId, qint32 pageSize, PageReply reply) override
    {
        reply(source_ ? source_->loadPage(ring, pageEndId, pageSize) : std::nullopt);
    }
    void idNearest(HistoryRing ring, double date, double time, IdReply reply) override
    {
        reply(source_ ? source_->idNearest(ring, date, time) : std::nullopt);
    }
    bool available() const override { return source_ != nullptr; }
    QString databasePath() const override { return source_ ? source_->databasePath() : QString(); }
    HistorySource* source() const override { return source_; }

private:
    HistorySource* source_;
};

class ReaderHistory final : public QObject, public TrendHistory {
public:
    explicit ReaderHistory(HistoryReader* reader) : reader_(reader)
    {
        connect(reader_, &HistoryReader::replied, this, &ReaderHistory::onReply);
    }

    bool answersLater() const override { return true; }
    bool waiting() const override { return pending_ != 0; }
    void newestId(HistoryRing ring, IdReply reply) override
    {
        expect(reader_->requestNewestId(ring),
               [reply](const HistoryReply& r) { reply(r.ok ? std::optional<qint32>(r.id) : std::nullopt); });
    }
    void loadPage(HistoryRing ring, qint32 pageEndId, qint32 pageSize, PageReply reply) override
    {
        expect(reader_->requestPage(ring, pageEndId, pageSize), [reply](const HistoryReply& r) {
            reply(r.ok ? std::optional<QVector<HistoryRow>>(r.rows) : std::nullopt);
        });
    }
    void idNearest(HistoryRing ring, double date, double time, IdReply reply) override
    {
        expect(reader_->requestIdNearest(ring, date, time),
               [reply](const HistoryReply& r) { reply(r.ok ? std::optional<qint32>(r.id) : std::nullopt); });
    }
    bool available() const override { return true; }
    QString databasePath() const override { return reader_->isOpen() ? reader_->location() : QString(); }

private:
    void expect(quint64 request, std::function<void(const HistoryReply&)> then)
    {
        pending_ = request;
        then_ = std::move(then);
    }

    void onReply(const HistoryReply& reply)
    {
        if (reply.request != pending_) {
            qCDebug(lcTrend) << "history reply" << reply.request << "superseded by" << pending_;
            return;
        }
        pending_ = 0;
        // The reply may make the next request of a chain.
        const auto then = std::move(then_);
        then_ = nullptr;
        then(reply);
    }

    HistoryReader* reader_;
    quint64 pending_ = 0;
    std::function<void(const HistoryReply&)> then_;
};

} // namespace

std::unique_ptr<TrendHistory> TrendHistory::at(HistorySource* source)
{
    return std::make_unique<SourceHistory>(source);
}

std::unique_ptr<TrendHistory> TrendHistory::through(HistoryReader* reader)
{
    return std::make_unique<ReaderHistory>(reader);
}
