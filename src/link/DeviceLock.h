#pragma once
#include <QString>

// One opener per serial device: an advisory exclusive lock (flock) on the
// device file, held on a descriptor of its own for as long as the port is in
// use. Taken before the line is configured, so a second program fails at once
// and never touches the first one's line settings. Programs that do not take
// the lock are not kept out; every program of this station does.
class DeviceLock {
public:
    enum class Status {
        Released,   // nothing held
        Held,       // the lock is ours
        InUse,      // another opener holds it
        CannotOpen, // the device could not be opened (see error())
    };

    DeviceLock() = default;
    ~DeviceLock();
    DeviceLock(DeviceLock&& other) noexcept;
    DeviceLock& operator=(DeviceLock&& other) noexcept;
    DeviceLock(const DeviceLock&) = delete;
    DeviceLock& operator=(const DeviceLock&) = delete;

    // Opens `device` and tries to lock it without waiting; releases what this
    // object held before.
    Status acquire(const QString& device);
    void release();

    Status status() const { return status_; }
    int error() const { return error_; } // errno of a failed open
    QString device() const { return device_; }
    // One line for logs and the command line, e.g. "port in use by another program".
    QString reason() const;

private:
    int fd_ = -1;
    Status status_ = Status::Released;
    int error_ = 0;
    QString device_;
};
