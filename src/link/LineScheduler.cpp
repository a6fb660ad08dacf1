#include "LineScheduler.h"
#include "PollingCycle.h"

#include <algorithm>
#include <limits>

namespace {

// Read every round: the PV block and the alarm/sensor bits. The rest of the
// cycle changes only when someone writes it.
bool everyRound(const ReadRequest& read) { return read.fn == ReadFn::Get_3X_D8 || read.fn == ReadFn::Get_1X_B16; }

LineRequest readOf(LineRequest::Kind kind, int address, const ReadRequest& read, quint64 tag = 0)
{
    LineRequest r;
    r.kind = kind;
    r.address = address;
    r.read = read;
    r.tag = tag;
    return r;
}

void earliest(std::optional<qint64>& at, qint64 candidate)
{
    if (!at || candidate < *at)
        at = candidate;
}

} // namespace

LineScheduler::ReplyShape LineScheduler::shapeOf(const LineRequest& request)
{
    ReplyShape shape;
    shape.address = request.address;
    if (request.isWrite) {
        shape.function = request.write.fn == WriteFn::Set_4X_D1 ? 0x06 : 0x05;
        shape.length = 4; // the echo of address and value
        return shape;
    }
    switch (request.read.fn) {
    case ReadFn::Get_0X_B16:
        shape.function = 0x01;
        shape.length = 2;
        break;
    case ReadFn::Get_1X_B16:
        shape.function = 0x02;
        shape.length = 2;
        break;
    case ReadFn::Get_3X_D8:
        shape.function = 0x04;
        shape.length = 16;
        break;
    case ReadFn::Get_4X_D8:
        shape.function = 0x03;
        shape.length = 16;
        break;
    case ReadFn::Get_4X_D16:
        shape.function = 0x03;
        shape.length = 32;
        break;
    }
    return shape;
}

bool LineScheduler::addLoop(int address)
{
    if (address < 1 || address > kMaxAddress || loops_.count(address))
        return false;
    loops_[address] = Loop{};
    return true;
}

QVector<int> LineScheduler::loops() const
{
    QVector<int> list;
    for (const auto& [address, loop] : loops_)
        list.append(address);
    return list;
}

void LineScheduler::setFocused(int address)
{
    if (address == focused_)
        return;
    focus_.clear();
    focused_ = loops_.count(address) ? address : 0;
    focusDueAt_.reset();
    focusFirst_ = 0;
}

bool LineScheduler::queueWrite(int address, const WriteRequest& write, quint64 tag)
{
    if (!loops_.count(address))
        return false;
    LineRequest r;
    r.kind = LineRequest::Kind::Write;
    r.address = address;
    r.isWrite = true;
    r.write = write;
    r.tag = tag;
    writes_.push_back(r);
    return true;
}

bool LineScheduler::requestRefresh(int address, const QVector<ReadRequest>& reads, quint64 tag)
{
    if (reads.isEmpty() || !loops_.count(address) || loops_.at(address).offline)
        return false;
    for (const ReadRequest& read : reads)
        refresh_.push_back(readOf(LineRequest::Kind::Refresh, address, read, tag));
    return true;
}

QVector<LineRequest> LineScheduler::takeDropped()
{
    QVector<LineRequest> out;
    out.swap(dropped_);
    return out;
}

bool LineScheduler::isOffline(int address) const
{
    const auto it = loops_.find(address);
    return it != loops_.end() && it->second.offline;
}

LineLoopCounters LineScheduler::counters(int address) const
{
    const auto it = loops_.find(address);
    if (it == loops_.end())
        return {};
    LineLoopCounters c = it->second.counters;
    std::vector<int> sorted(it->second.responses.begin(), it->second.responses.end());
    if (!sorted.empty()) {
        std::sort(sorted.begin(), sorted.end());
        const std::size_t last = sorted.size() - 1;
        c.responseP50Ms = sorted[last * 50 / 100];
        c.responseP95Ms = sorted[last * 95 / 100];
    }
    return c;
}

bool LineScheduler::onlineMember(int address) const
{
    const auto it = loops_.find(address);
    return it != loops_.end() && !it->second.offline;
}

void LineScheduler::startRound(qint64 nowMs)
{
    ++rounds_;
    roundStartedAt_ = nowMs;
    retryUsed_ = false;
    round_.clear();

    const QVector<ReadRequest> cycle = PollingCycle::cycleRequests();
    std::vector<int> members;
    std::vector<std::pair<int, ReadRequest>> slow;
    for (const auto& [address, loop] : loops_) {
        if (loop.offline || address == focused_)
            continue;
        members.push_back(address);
        for (const ReadRequest& read : cycle)
            if (!everyRound(read))
                slow.emplace_back(address, read);
    }
    // A fixed share of the slower blocks per round, taken in turn.
    std::vector<std::pair<int, ReadRequest>> chosen;
    if (!slow.empty()) {
        const int n = int(slow.size());
        const int share = (n + kSlowSpread - 1) / kSlowSpread;
        slowCursor_ %= n;
        for (int i = 0; i < share; ++i)
            chosen.push_back(slow[std::size_t((slowCursor_ + i) % n)]);
        slowCursor_ = (slowCursor_ + share) % n;
    }
    for (const int address : members) {
        for (const ReadRequest& read : cycle)
            if (everyRound(read))
                round_.push_back(readOf(LineRequest::Kind::Round, address, read));
        for (const auto& [a, read] : chosen)
            if (a == address)
                round_.push_back(readOf(LineRequest::Kind::Round, address, read));
    }
}

void LineScheduler::queueFocusCycle(qint64 nowMs)
{
    QVector<ReadRequest> cycle = PollingCycle::cycleRequests();
    std::rotate(cycle.begin(), cycle.begin() + focusFirst_, cycle.end());
    for (const ReadRequest& read : cycle)
        focus_.push_back(readOf(LineRequest::Kind::Focus, focused_, read));
    // Keeps the cadence when a cycle starts a little late; after a long
    // stall it starts afresh rather than catching up.
    qint64 due = focusDueAt_.value_or(nowMs) + kFocusPeriodMs;
    if (due <= nowMs)
        due = nowMs + kFocusPeriodMs;
    focusDueAt_ = due;
}

bool LineScheduler::allowed(const LineRequest& request) const
{
    return !guard_ || !(shapeOf(request) == guard_->shape);
}

LineScheduler::Queue::iterator LineScheduler::firstAllowed(Queue& queue, bool* guarded)
{
    for (auto it = queue.begin(); it != queue.end(); ++it) {
        if (allowed(*it))
            return it;
        *guarded = true;
    }
    return queue.end();
}

LineRequest LineScheduler::issue(Queue& queue, Queue::iterator it, qint64 nowMs)
{
    LineRequest r = *it;
    queue.erase(it);
    return issue(r, nowMs);
}

LineRequest LineScheduler::issue(LineRequest request, qint64 nowMs)
{
    request.issuedAtMs = nowMs;
    guard_.reset(); // something of another shape is on the line now
    switch (request.kind) {
    case LineRequest::Kind::Refresh: lastWasRefresh_ = true; break;
    case LineRequest::Kind::Round:
    case LineRequest::Kind::Focus: lastWasRefresh_ = false; break;
    case LineRequest::Kind::Retry: retryUsed_ = true; break;
    case LineRequest::Kind::Write: break;
    }
    return request;
}

std::optional<LineRequest> LineScheduler::choose(qint64 nowMs, bool* guarded)
{
    // Writes: the first of each address only, so they keep their order.
    std::vector<int> passed;
    for (auto it = writes_.begin(); it != writes_.end(); ++it) {
        if (std::find(passed.begin(), passed.end(), it->address) != passed.end())
            continue;
        if (allowed(*it))
            return issue(writes_, it, nowMs);
        *guarded = true;
        passed.push_back(it->address);
    }

    if (!retryUsed_) {
        int due = 0;
        qint64 dueAt = std::numeric_limits<qint64>::max();
        for (const auto& [address, loop] : loops_) {
            if (loop.offline && loop.retryAt <= nowMs && loop.retryAt < dueAt) {
                const LineRequest probe =
                    readOf(LineRequest::Kind::Retry, address, PollingCycle::cycleRequests().first());
                if (!allowed(probe)) {
                    *guarded = true;
                    continue;
                }
                due = address;
                dueAt = loop.retryAt;
            }
        }
        if (due)
            return issue(readOf(LineRequest::Kind::Retry, due, PollingCycle::cycleRequests().first()), nowMs);
    }

    if (!lastWasRefresh_) {
        if (auto it = firstAllowed(refresh_, guarded); it != refresh_.end())
            return issue(refresh_, it, nowMs);
    }
    if (focused_ && onlineMember(focused_) && focus_.empty() && (!focusDueAt_ || *focusDueAt_ <= nowMs))
        queueFocusCycle(nowMs);
    if (auto it = firstAllowed(focus_, guarded); it != focus_.end())
        return issue(focus_, it, nowMs);
    if (auto it = firstAllowed(round_, guarded); it != round_.end())
        return issue(round_, it, nowMs);
    if (auto it = firstAllowed(refresh_, guarded); it != refresh_.end())
        return issue(refresh_, it, nowMs);
    return std::nullopt;
}

std::optional<LineRequest> LineScheduler::next(qint64 nowMs)
{
    idleUntil_.reset();
    if (round_.empty() && (!roundStartedAt_ || nowMs >= *roundStartedAt_ + kRoundMinMs))
        startRound(nowMs);

    bool guarded = false;
    if (auto r = choose(nowMs, &guarded))
        return r;
    if (guarded && guard_) {
        // Only same-shaped work is left: once a late reply can no longer
        // come, it may go.
        if (nowMs >= guard_->sinceMs + kShapeGuardMs) {
            guard_.reset();
            return choose(nowMs, &guarded);
        }
        earliest(idleUntil_, guard_->sinceMs + kShapeGuardMs);
    }

    const qint64 nextRound = roundStartedAt_.value_or(nowMs) + kRoundMinMs;
    bool members = false;
    for (const auto& [address, loop] : loops_) {
        if (!loop.offline && address != focused_)
            members = true;
        if (loop.offline)
            earliest(idleUntil_, retryUsed_ ? std::max(loop.retryAt, nextRound) : loop.retryAt);
    }
    if (members)
        earliest(idleUntil_, nextRound);
    if (focused_ && onlineMember(focused_))
        earliest(idleUntil_, focusDueAt_.value_or(nowMs));
    if (idleUntil_ && *idleUntil_ < nowMs)
        idleUntil_ = nowMs;
    return std::nullopt;
}

void LineScheduler::dropAddress(Queue& queue, int address, QVector<LineRequest>* into)
{
    for (auto it = queue.begin(); it != queue.end();) {
        if (it->address != address) {
            ++it;
            continue;
        }
        if (into)
            into->append(*it);
        it = queue.erase(it);
    }
}

void LineScheduler::goOffline(int address, Loop& loop, qint64 nowMs)
{
    loop.offline = true;
    loop.counters.offlineSinceMs = nowMs;
    loop.retryStep = 0;
    loop.retryAt = nowMs + kRetryDelaysMs[0];
    dropAddress(refresh_, address, &dropped_);
    // Writes stay: the operator asked for them, and an answer brings the loop back.
}

void LineScheduler::report(const LineRequest& request, LineOutcome outcome, qint64 nowMs)
{
    const auto found = loops_.find(request.address);
    if (found == loops_.end() || outcome == LineOutcome::NotSent)
        return;
    const int address = found->first;
    Loop& loop = found->second;

    switch (outcome) {
    case LineOutcome::Answered:
    case LineOutcome::Exception:
        if (outcome == LineOutcome::Answered)
            ++loop.counters.answered;
        else
            ++loop.counters.exceptions;
        loop.responses.push_back(
            int(std::clamp<qint64>(nowMs - request.issuedAtMs, 0, std::numeric_limits<int>::max())));
        if (loop.responses.size() > std::size_t(kResponseWindow))
            loop.responses.pop_front();
        loop.timeoutsInRow = 0;
        if (loop.offline) {
            loop.offline = false;
            loop.retryStep = 0;
            loop.counters.offlineSinceMs.reset();
        }
        return;
    case LineOutcome::Crc:
        ++loop.counters.crcErrors;
        guard_ = Guard{shapeOf(request), nowMs};
        break;
    case LineOutcome::Timeout:
        ++loop.counters.timeouts;
        ++loop.timeoutsInRow;
        guard_ = Guard{shapeOf(request), nowMs};
        // The rest of its round and cycle would only time out as well; the
        // next cycle begins after the block that did not answer.
        dropAddress(round_, address, nullptr);
        dropAddress(focus_, address, nullptr);
        if (request.kind == LineRequest::Kind::Focus && address == focused_) {
            const QVector<ReadRequest> cycle = PollingCycle::cycleRequests();
            for (int i = 0; i < cycle.size(); ++i)
                if (cycle[i].fn == request.read.fn && cycle[i].first == request.read.first)
                    focusFirst_ = (i + 1) % int(cycle.size());
        }
        if (!loop.offline && loop.timeoutsInRow >= kTimeoutsToOffline)
            goOffline(address, loop, nowMs);
        break;
    case LineOutcome::NotSent: return;
    }
    if (loop.offline && request.kind == LineRequest::Kind::Retry) {
        loop.retryStep = std::min(loop.retryStep + 1, int(kRetryDelaysMs.size()) - 1);
        loop.retryAt = nowMs + kRetryDelaysMs[std::size_t(loop.retryStep)];
    }
}
