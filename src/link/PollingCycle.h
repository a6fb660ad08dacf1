#pragma once
#include "LinkClient.h"
#include "LiveImage.h"

#include <QObject>
#include <QTimer>
#include <array>

// The 500 ms polling cycle (the hidden worker "Met1"): five reads that fill
// the LiveImage. Each read has its own buffer and a failed read leaves its
// part of the image as it was. A cycle begins with the block after the one
// that last timed out, so a block the instrument never answers cannot starve
// the others. A tick that falls due while the previous cycle
// is still queued or running is skipped and counted; the next cycle then
// begins as soon as that one comes back.
class PollingCycle : public QObject {
    Q_OBJECT
public:
    static constexpr int kIntervalMs = 500;

    PollingCycle(LinkClient& link, LiveImage& image, QObject* parent = nullptr);

    void start(); // the port-open action
    void stop();  // the port-close action
    bool isRunning() const { return fed_ || timer_->isActive(); }

    // One cycle (Timer1_Timer); public so tests can drive it.
    void tick();
    // A loop on a shared line: one share of the line's round (every read
    // answered: allAnswered). Ignored while stopped.
    void deliver(const QVector<ReadResult>& results);

    int skippedTicks() const { return skipped_; }

    // Splits a byte into its eight bits, entry k = bit k.
    static std::array<qint32, 8> D_Byte(quint8 b);

    // The five reads of one cycle, in order.
    static QVector<ReadRequest> cycleRequests();
    // Block k of the cycle (index into cycleRequests()) and what the
    // operator is told while it alone goes unanswered ("报警类型读取失败").
    static int blockCount();
    static QString blockFailureText(int block);
    // The block a request of the cycle belongs to; -1 for any other read.
    static int blockOf(const ReadRequest& request);
    // The same five as the next cycle issues them: begun after the block that
    // last timed out.
    QVector<ReadRequest> nextRequests() const;

    // Copies one cycle's results into the image (also used by tests).
    static void apply(const QVector<ReadResult>& results, LiveImage& image);

Q_SIGNALS:
    // Bit k set: block k answered in this cycle. Sent just before cycleCompleted.
    void blocksAnswered(quint32 answeredMask);
    // allAnswered: every read of the cycle got a valid reply.
    void cycleCompleted(bool allAnswered);

private:
    // One cycle's results in: the image, the counts and the signals.
    // complete: every block of the cycle was issued.
    void finish(const QVector<ReadResult>& results, bool complete);

    LinkClient& link_;
    LiveImage& image_;
    QTimer* timer_ = nullptr; // "Timer1"
    int skipped_ = 0;
    int first_ = 0;        // index in cycleRequests() the next cycle begins with
    bool catchUp_ = false; // a tick fell due while this cycle was out
    bool fed_ = false;     // started on a loop channel
};
