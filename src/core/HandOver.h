#pragma once

#include <QMetaObject>
#include <QObject>
#include <QThread>

#include <functional>
#include <memory>
#include <mutex>
#include <tuple>
#include <type_traits>
#include <utility>

#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
#endif

// Work handed to an object on another thread.
//
// Qt orders the two sides with a lock and a semaphore inside the library,
// which ThreadSanitizer cannot see against the distribution's Qt: it would
// report every use on the far side of what the sending side wrote. The checked
// build tells it the order here; in any other build the marks are empty.

#if defined(__SANITIZE_THREAD__)
namespace handover {
inline char order;
inline void sent() { __tsan_release(&order); }
inline void received() { __tsan_acquire(&order); }
} // namespace handover
#else
namespace handover {
inline void sent() {}
inline void received() {}
} // namespace handover
#endif

namespace handover {
// A job as Qt's queued call holds it. It sets the mark each time Qt moves it
// into place, so the mark follows everything the sending side wrote, the
// call's own copy included; it takes the mark up again before it runs or is
// dropped on the far side.
template <typename Fn> class Marked {
public:
    explicit Marked(Fn&& fn) : job_(std::move(fn)) { sent(); }
    Marked(Marked&& other) : job_(std::move(other.job_)) { sent(); }
    Marked(const Marked&) = delete;
    Marked& operator=(const Marked&) = delete;
    Marked& operator=(Marked&&) = delete;
    ~Marked() { received(); }

    void operator()()
    {
        received();
        job_();
    }

private:
    Fn job_;
};
} // namespace handover

// Queues `fn` to run on `target`'s thread and returns at once.
template <typename Fn> void postTo(QObject* target, Fn&& fn)
{
    QMetaObject::invokeMethod(target, handover::Marked<std::decay_t<Fn>>(std::decay_t<Fn>(std::forward<Fn>(fn))),
                              Qt::QueuedConnection);
}

// Runs `fn` on `target`'s thread and returns when it has run (a blocking
// queued call; never for an object of the calling thread).
template <typename Fn> void runAndWait(QObject* target, Fn&& fn)
{
    auto job = [&fn] {
        std::forward<Fn>(fn)();
        handover::sent();
    };
    QMetaObject::invokeMethod(target, handover::Marked<decltype(job)>(std::move(job)), Qt::BlockingQueuedConnection);
    handover::received();
}

namespace handover {
// The way back to a receiver, closed when it is destroyed: a worker that
// outlives it posts nothing to a dead object.
class Return {
public:
    explicit Return(QObject* receiver) : receiver_(receiver), thread_(receiver->thread()) {}

    void close()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        receiver_ = nullptr;
    }

    // On the receiver's own thread `fn` runs at once, as a direct connection
    // would; from any other it is posted.
    template <typename Fn> void deliver(Fn&& fn)
    {
        if (QThread::currentThread() == thread_) {
            bool open = false;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                open = receiver_ != nullptr;
            }
            if (open)
                fn();
            return;
        }
        std::lock_guard<std::mutex> lock(mutex_);
        if (receiver_)
            postTo(receiver_, std::forward<Fn>(fn));
    }

private:
    std::mutex mutex_;
    QObject* receiver_;
    QThread* const thread_;
};
} // namespace handover

// Connects a worker's signal to `slot` (a member of `receiver` or a functor),
// run on the receiver's thread with copies of the signal's arguments: what a
// queued connection does, but through postTo, because a queued signal copies
// its arguments inside Qt after any mark could be set. Nothing is delivered
// once the receiver is gone.
template <typename Sender, typename Owner, typename... Args, typename Receiver, typename Slot>
QMetaObject::Connection relay(Sender* sender, void (Owner::*signal)(Args...), Receiver* receiver, Slot slot)
{
    auto back = std::make_shared<handover::Return>(receiver);
    QObject::connect(receiver, &QObject::destroyed, [back] { back->close(); });
    const auto run = [receiver, slot](auto&... args) {
        if constexpr (std::is_member_function_pointer_v<Slot>)
            std::invoke(slot, receiver, args...);
        else
            std::invoke(slot, args...);
    };
    return QObject::connect(sender, signal, [back, run](Args... args) {
        back->deliver(
            [run, copies = std::make_tuple(std::decay_t<Args>(args)...)]() mutable { std::apply(run, copies); });
    });
}
