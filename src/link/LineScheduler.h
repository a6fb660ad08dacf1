#pragma once
#include "LinkTypes.h"

#include <QVector>

#include <array>
#include <deque>
#include <map>
#include <optional>

// How one exchange of the line ended, as far as the addressed loop is
// concerned. NotSent: the line itself failed (port closed, device gone); it
// says nothing about the loop and is not counted against it.
enum class LineOutcome { Answered, Timeout, Crc, Exception, NotSent };

// One request the line is to carry out next.
struct LineRequest {
    enum class Kind {
        Round,   // the loop's share of the current round
        Focus,   // the full cycle of the loop whose main window is open
        Refresh, // one read of a window's refresh
        Write,   // an operator write
        Retry,   // the one request that probes an offline address
    };
    Kind kind = Kind::Round;
    int address = 0;      // 1..16
    bool isWrite = false; // `write` applies, else `read`
    ReadRequest read;
    WriteRequest write;
    quint64 tag = 0;       // the caller's, for refreshes and writes
    qint64 issuedAtMs = 0; // when next() gave it out
};

struct LineLoopCounters {
    quint64 answered = 0;
    quint64 timeouts = 0;
    quint64 crcErrors = 0;
    quint64 exceptions = 0;
    int responseP50Ms = -1; // over the last kResponseWindow replies; -1 before the first
    int responseP95Ms = -1;
    std::optional<qint64> offlineSinceMs;
};
Q_DECLARE_METATYPE(LineLoopCounters)

// Decides, request by request, what one RS-485 line carries for its loops
// (instruments at addresses 1..16). Pure logic: no thread and no I/O; time is
// a steady clock in milliseconds handed in by the caller. One request is out
// at a time: report() it before asking next() again.
//
// What it asks for, first that is allowed:
//  1. operator writes, oldest first (writes to one address never overtake
//     each other);
//  2. at most one retry per round of an address that is offline and due;
//  3. one read of a window refresh, alternating with 4 and 5 so a refresh
//     neither waits for a whole round nor holds the round up;
//  4. the focused loop's full five-read cycle, every kFocusPeriodMs;
//  5. the round: for every answering loop but the focused one the PV block
//     and the alarm/sensor bits, and a quarter of all their slower blocks
//     (holding blocks and coils), so each of those is read at least every
//     fourth round and rounds stay even. Rounds start no closer than
//     kRoundMinMs apart.
//
// A timeout drops what is left of that address's round and cycle, so a dead
// loop costs one timeout per round. Two timeouts in a row make an address
// offline: it is then only probed, kRetryDelaysMs apart (the last repeats),
// and its first answer brings it back into the next round.
//
// After a timeout or a garbled reply the next request never has the failed
// one's reply shape (address, function, byte count): a late reply must not
// be taken as the answer to it. Something else goes first; with nothing
// else to send the line waits kShapeGuardMs.
class LineScheduler {
public:
    static constexpr int kMaxAddress = 16;
    static constexpr qint64 kRoundMinMs = 500;
    static constexpr qint64 kFocusPeriodMs = 500;
    static constexpr int kSlowSpread = 4; // rounds over which the slower blocks are spread
    static constexpr int kTimeoutsToOffline = 2;
    static constexpr std::array<qint64, 4> kRetryDelaysMs{5000, 10000, 20000, 30000};
    static constexpr qint64 kShapeGuardMs = 200;
    static constexpr int kResponseWindow = 100;

    struct ReplyShape {
        int address = 0;
        int function = 0;
        int length = 0; // the reply's byte count, or the echo's data length for writes
        bool operator==(const ReplyShape&) const = default;
    };
    static ReplyShape shapeOf(const LineRequest& request);

    // Loops of the line. False for an address outside 1..16 or one already there.
    bool addLoop(int address);
    QVector<int> loops() const;

    // The loop whose main window is open; 0 for none.
    void setFocused(int address);

    // False for an unknown address.
    bool queueWrite(int address, const WriteRequest& write, quint64 tag = 0);
    // False for an unknown or offline address, or no reads. The reads of an
    // address that goes offline are dropped (see takeDropped()).
    bool requestRefresh(int address, const QVector<ReadRequest>& reads, quint64 tag = 0);

    std::optional<LineRequest> next(qint64 nowMs);
    // After next() gave nothing: the earliest time it may give something
    // without new work being queued; nullopt when only new work can.
    std::optional<qint64> idleUntilMs() const { return idleUntil_; }
    void report(const LineRequest& request, LineOutcome outcome, qint64 nowMs);

    // Queued refreshes given up because their address went offline, oldest
    // first; the list is emptied.
    QVector<LineRequest> takeDropped();

    bool isOffline(int address) const;
    LineLoopCounters counters(int address) const;
    quint64 roundsStarted() const { return rounds_; }

private:
    struct Loop {
        int timeoutsInRow = 0;
        bool offline = false;
        int retryStep = 0;
        qint64 retryAt = 0;
        LineLoopCounters counters;
        std::deque<int> responses; // ms, newest last
    };
    struct Guard {
        ReplyShape shape;
        qint64 sinceMs = 0;
    };
    using Queue = std::deque<LineRequest>;

    void startRound(qint64 nowMs);
    void queueFocusCycle(qint64 nowMs);
    bool allowed(const LineRequest& request) const;
    // The first allowed entry of `queue`, or end(); notes a guard refusal.
    Queue::iterator firstAllowed(Queue& queue, bool* guarded);
    LineRequest issue(Queue& queue, Queue::iterator it, qint64 nowMs);
    LineRequest issue(LineRequest request, qint64 nowMs);
    std::optional<LineRequest> choose(qint64 nowMs, bool* guarded);
    void dropAddress(Queue& queue, int address, QVector<LineRequest>* into);
    void goOffline(int address, Loop& loop, qint64 nowMs);
    bool onlineMember(int address) const;

    std::map<int, Loop> loops_;
    int focused_ = 0;
    Queue writes_;
    Queue refresh_;
    Queue focus_;
    Queue round_;
    QVector<LineRequest> dropped_;
    std::optional<qint64> roundStartedAt_;
    std::optional<qint64> focusDueAt_; // unset: due now
    int focusFirst_ = 0;               // index in the cycle the next focused cycle begins with
    int slowCursor_ = 0;
    bool retryUsed_ = false;
    bool lastWasRefresh_ = false;
    std::optional<Guard> guard_;
    std::optional<qint64> idleUntil_;
    quint64 rounds_ = 0;
};
