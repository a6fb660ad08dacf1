#include "DeviceLock.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

DeviceLock::~DeviceLock() { release(); }

DeviceLock::DeviceLock(DeviceLock&& other) noexcept
    : fd_(other.fd_), status_(other.status_), error_(other.error_), device_(std::move(other.device_))
{
    other.fd_ = -1;
    other.status_ = Status::Released;
}

DeviceLock& DeviceLock::operator=(DeviceLock&& other) noexcept
{
    if (this != &other) {
        release();
        fd_ = other.fd_;
        status_ = other.status_;
        error_ = other.error_;
        device_ = std::move(other.device_);
        other.fd_ = -1;
        other.status_ = Status::Released;
    }
    return *this;
}

DeviceLock::Status DeviceLock::acquire(const QString& device)
{
    release();
    device_ = device;
    const QByteArray path = device.toLocal8Bit();
    // Non-blocking: a tty without carrier must not hold up the open.
    fd_ = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) {
        error_ = errno;
        status_ = Status::CannotOpen;
        return status_;
    }
    int rc;
    do
        rc = ::flock(fd_, LOCK_EX | LOCK_NB);
    while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        error_ = errno;
        ::close(fd_);
        fd_ = -1;
        status_ = error_ == EWOULDBLOCK ? Status::InUse : Status::CannotOpen;
        return status_;
    }
    error_ = 0;
    status_ = Status::Held;
    return status_;
}

void DeviceLock::release()
{
    if (fd_ >= 0)
        ::close(fd_); // closing the last descriptor of the description drops the lock
    fd_ = -1;
    if (status_ == Status::Held)
        status_ = Status::Released;
}

QString DeviceLock::reason() const
{
    switch (status_) {
    case Status::Released: return QStringLiteral("%1 is not locked").arg(device_);
    case Status::Held: return QStringLiteral("%1 is locked by this program").arg(device_);
    case Status::InUse: return QStringLiteral("port in use by another program");
    case Status::CannotOpen:
        return QStringLiteral("cannot open %1: %2").arg(device_, QString::fromLocal8Bit(std::strerror(error_)));
    }
    return QString();
}
