#pragma once
#include "LinkClient.h"
#include "WriteEntry.h"

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <optional>

class Journal;

// One point of the instrument as the station addresses it.
struct InstrumentPoint {
    enum class Space { InputRegister, HoldingRegister, Coil, DiscreteInput };
    Space space = Space::HoldingRegister;
    int number = 0;
    friend bool operator==(const InstrumentPoint&, const InstrumentPoint&) = default;
};
size_t qHash(const InstrumentPoint& p, size_t seed = 0);

// Every operator write through one place: the journal gets a "write" row
// with the value last read, the value sent and the result ("ok", "failed"
// after the link's one repeat, "refused: why" for an entry never sent).
// A successful write then waits for the register to be read again, by the
// poll or by a window's refresh: the same row turns "verified" as soon as a
// read shows the value sent, or "mismatch: 仪表显示 N" when the reads of the
// read-back window showed something else. With no read at all it stays "ok".
class WriteAudit final : public QObject {
    Q_OBJECT
public:
    static constexpr int kReadBackWindowMs = 5000;

    WriteAudit(LinkClient& link, Journal& journal, QObject* parent = nullptr);

    // Sends `request` through the link and records it; `done` runs when the
    // result is back unless `requester` was destroyed meanwhile.
    void write(QObject* requester, const WriteRequest& request, const WriteLabel& label = {},
               LinkClient::WriteCallback done = {});
    // Records an entry refused before anything was sent.
    void refused(const WriteRequest& request, const WriteLabel& label, const QString& enteredText,
                 const QString& reason);

    // The value the station last read of `point`, if it ever did.
    std::optional<qint32> lastRead(const InstrumentPoint& point) const;
    // Where the value written by `request` is read back (the set value is
    // written to one register and polled from another).
    static InstrumentPoint readBackPoint(const WriteRequest& request);
    // The instrument's address on a line of several (its entries carry it).
    void setLoop(int address) { loop_ = address; }

public Q_SLOTS:
    void onReads(const QVector<ReadResult>& results);

private:
    // The test shortens the window and sees when a read-back is given up,
    // which leaves no trace of its own in the journal.
    friend class TestJournalAudit;
    int pendingReadBacks() const { return int(pending_.size()); }
    void setReadBackWindow(int ms) { windowMs_ = ms; }

    struct ReadBack {
        quint64 seq = 0;
        InstrumentPoint point;
        qint32 expected = 0;
        int divisor = 1;
        std::optional<qint32> seen;
        qint64 deadlineMs = 0;
    };
    void expire();

    LinkClient& link_;
    Journal& journal_;
    QHash<InstrumentPoint, qint32> last_;
    QList<ReadBack> pending_;
    int loop_ = 0;
    int windowMs_ = kReadBackWindowMs;
    QTimer expiry_;
    QElapsedTimer clock_;
};

// The write sites' one call: through the audit when the station has one,
// straight through the link otherwise (windows built without a journal).
void auditedWrite(WriteAudit* audit, LinkClient& link, QObject* requester, const WriteRequest& request,
                  const WriteLabel& label = {}, LinkClient::WriteCallback done = {});
void auditRefusal(WriteAudit* audit, const WriteRequest& request, const WriteLabel& label, const QString& enteredText,
                  const QString& reason);
