#include "SocketLine.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int pollIn(int fd, int ms)
{
    pollfd p{fd, POLLIN, 0};
    int ready;
    do
        ready = ::poll(&p, 1, ms);
    while (ready < 0 && errno == EINTR);
    if (ready > 0 && !(p.revents & (POLLIN | POLLHUP | POLLERR)))
        return 0;
    return ready;
}

} // namespace

int connectTcp(const QString& host, int port, int timeoutMs)
{
    const QByteArray h = host.toLatin1();
    sockaddr_storage addr{};
    socklen_t len = 0;
    auto* v4 = reinterpret_cast<sockaddr_in*>(&addr);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&addr);
    if (::inet_pton(AF_INET, h.constData(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(quint16(port));
        len = sizeof *v4;
    } else if (::inet_pton(AF_INET6, h.constData(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(quint16(port));
        len = sizeof *v6;
    } else {
        errno = EINVAL;
        return -1;
    }
    const int fd = ::socket(addr.ss_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return -1;
    int rc = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), len);
    if (rc != 0 && errno == EINPROGRESS) {
        pollfd p{fd, POLLOUT, 0};
        do
            rc = ::poll(&p, 1, timeoutMs);
        while (rc < 0 && errno == EINTR);
        if (rc == 0) {
            ::close(fd);
            errno = ETIMEDOUT;
            return -1;
        }
        int soError = 0;
        socklen_t soLen = sizeof soError;
        ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &soLen);
        rc = soError == 0 ? 0 : -1;
        errno = soError;
    }
    if (rc != 0) {
        const int err = errno;
        ::close(fd);
        errno = err;
        return -1;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    const int on = 1, idle = 5, interval = 1, count = 3;
    ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on); // requests are single small frames
    return fd;
}

bool socketReadable(int fd, int ms) { return fd >= 0 && pollIn(fd, ms) > 0; }

bool discardPendingInput(int fd)
{
    unsigned char scratch[256];
    while (pollIn(fd, 0) > 0) {
        const ssize_t n = ::recv(fd, scratch, sizeof scratch, MSG_DONTWAIT);
        if (n == 0)
            return false;
        if (n < 0)
            return !connectionLost(errno);
    }
    return true;
}

bool drainSocketInput(int fd, int windowMs, int quietMs)
{
    using Clock = std::chrono::steady_clock;
    const auto end = Clock::now() + std::chrono::milliseconds(windowMs);
    unsigned char scratch[256];
    for (;;) {
        const auto now = Clock::now();
        if (now >= end)
            return true;
        int wait = int(std::chrono::duration_cast<std::chrono::milliseconds>(end - now).count());
        if (quietMs > 0 && quietMs < wait)
            wait = quietMs;
        if (pollIn(fd, wait) <= 0) {
            if (quietMs > 0)
                return true;
            continue;
        }
        const ssize_t n = ::recv(fd, scratch, sizeof scratch, MSG_DONTWAIT);
        if (n == 0 || (n < 0 && connectionLost(errno)))
            return false;
    }
}

void ReconnectBackoff::failed(Clock::time_point now)
{
    delayMs_ = delayMs_ == 0 ? kFirstMs : std::min(delayMs_ * 2, kMaxMs);
    notBefore_ = now + std::chrono::milliseconds(delayMs_);
}

bool connectionLost(int errnum)
{
    switch (errnum) {
    case ECONNRESET:
    case ECONNREFUSED:
    case ECONNABORTED:
    case EPIPE:
    case ENOTCONN:
    case EHOSTUNREACH:
    case ENETUNREACH:
    case ENETDOWN:
    case EBADF: return true;
    default: return false;
    }
}
