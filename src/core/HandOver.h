#pragma once

#include <QMetaObject>
#include <QObject>

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

// Queues `fn` to run on `target`'s thread and returns at once.
template <typename Fn> void postTo(QObject* target, Fn&& fn)
{
    // Built before the mark, so what it captured is covered by it.
    auto task = [job = std::forward<Fn>(fn)]() mutable {
        handover::received();
        job();
    };
    handover::sent();
    QMetaObject::invokeMethod(target, std::move(task), Qt::QueuedConnection);
}

// Runs `fn` on `target`'s thread and returns when it has run (a blocking
// queued call; never for an object of the calling thread).
template <typename Fn> void runAndWait(QObject* target, Fn&& fn)
{
    handover::sent();
    QMetaObject::invokeMethod(
        target,
        [&fn] {
            handover::received();
            std::forward<Fn>(fn)();
            handover::sent();
        },
        Qt::BlockingQueuedConnection);
    handover::received();
}
