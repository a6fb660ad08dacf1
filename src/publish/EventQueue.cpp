#include "EventQueue.h"

#include <algorithm>

EventQueue::EventQueue(int capacity, int window) : capacity_(std::max(1, capacity)), window_(std::max(1, window)) {}

void EventQueue::push(const QByteArray& payload)
{
    if (size() >= capacity_) {
        if (sent_ < size()) {
            entries_.erase(entries_.begin() + sent_);
        } else {
            // Everything queued is in flight: the new event is the one lost.
            ++dropped_;
            return;
        }
        ++dropped_;
    }
    entries_.push_back({{nextSeq_++, payload}, false});
}

std::optional<EventQueue::Entry> EventQueue::takeNext()
{
    if (sent_ >= size() || sent_ >= window_)
        return std::nullopt;
    return entries_[std::size_t(sent_++)].entry;
}

void EventQueue::acknowledge(quint64 seq)
{
    for (int i = 0; i < sent_; ++i) {
        if (entries_[std::size_t(i)].entry.seq == seq) {
            entries_[std::size_t(i)].acked = true;
            break;
        }
    }
    while (sent_ > 0 && entries_.front().acked) {
        entries_.pop_front();
        --sent_;
    }
}

void EventQueue::connectionLost()
{
    // An acknowledgement that overtook an earlier one still counts.
    auto end = entries_.begin() + sent_;
    entries_.erase(std::remove_if(entries_.begin(), end, [](const Slot& s) { return s.acked; }), end);
    sent_ = 0;
}
