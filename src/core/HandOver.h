#pragma once

#include <QMetaObject>
#include <QObject>

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
inline void sent(const void* key = &order) { __tsan_release(const_cast<void*>(key)); }
inline void received(const void* key = &order) { __tsan_acquire(const_cast<void*>(key)); }
} // namespace handover
#else
namespace handover {
inline void sent(const void* = nullptr) {}
inline void received(const void* = nullptr) {}
} // namespace handover
#endif

// Queues `fn` to run on `target`'s thread and returns at once.
template <typename Fn> void postTo(QObject* target, Fn&& fn)
{
    std::decay_t<Fn> job(std::forward<Fn>(fn));
    handover::sent();
    QMetaObject::invokeMethod(
        target,
        [job = std::move(job)]() mutable {
            handover::received();
            job();
        },
        Qt::QueuedConnection);
}

// Runs `fn` on `target`'s thread and returns when it has run (a blocking
// queued call; never for an object of the calling thread).
template <typename Fn> void runAndWait(QObject* target, Fn&& fn)
{
    handover::sent(&fn);
    QMetaObject::invokeMethod(
        target,
        [&fn] {
            handover::received(&fn);
            std::forward<Fn>(fn)();
            handover::sent(&fn);
        },
        Qt::BlockingQueuedConnection);
    handover::received(&fn);
}
