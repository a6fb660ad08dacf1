#pragma once
#include <QByteArray>
#include <deque>
#include <optional>

// Journal events waiting for the broker. Events leave the queue only when
// the broker acknowledged them; those handed out on a connection that then
// dropped go out again first, in their order, on the next one. Bounded:
// when full, the oldest event not yet handed out makes room (the journal
// itself keeps every event).
class EventQueue {
public:
    static constexpr int kCapacity = 10000;
    static constexpr int kWindow = 100; // handed out, not yet acknowledged

    struct Entry {
        quint64 seq = 0;
        QByteArray payload;
    };

    explicit EventQueue(int capacity = kCapacity, int window = kWindow);

    void push(const QByteArray& payload);
    // The next event to send, marked as in flight; nothing when none is
    // waiting or the window is full.
    std::optional<Entry> takeNext();
    // The broker confirmed this event.
    void acknowledge(quint64 seq);
    // The connection dropped: everything in flight is waiting again.
    void connectionLost();

    int size() const { return int(entries_.size()); }
    quint64 dropped() const { return dropped_; }

private:
    struct Slot {
        Entry entry;
        bool acked = false;
    };
    std::deque<Slot> entries_; // [0, sent_) handed out on this connection
    int sent_ = 0;
    int capacity_;
    int window_;
    quint64 nextSeq_ = 1;
    quint64 dropped_ = 0;
};
