#include "TerminationSignals.h"
#include "AppLog.h"

#include <QSocketNotifier>
#include <cerrno>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
constexpr int kSignals[3] = {SIGTERM, SIGINT, SIGHUP};
// The handler's end of the socket pair; a handler can reach nothing else.
volatile sig_atomic_t writeFd = -1;
} // namespace

TerminationSignals::TerminationSignals(QObject* parent) : QObject(parent)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds_) != 0) {
        qCWarning(lcApp) << "termination signals not watched: socketpair:" << strerror(errno);
        return;
    }
    // A full socket must never block the handler; one byte is enough anyway.
    ::fcntl(fds_[0], F_SETFL, ::fcntl(fds_[0], F_GETFL) | O_NONBLOCK);
    writeFd = fds_[0];
    notifier_ = new QSocketNotifier(fds_[1], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &TerminationSignals::readSignal);

    struct sigaction action = {};
    action.sa_handler = &TerminationSignals::onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int i = 0; i < 3; ++i)
        installed_[i] = ::sigaction(kSignals[i], &action, &previous_[i]) == 0;
}

TerminationSignals::~TerminationSignals()
{
    restoreHandlers();
    writeFd = -1;
    delete notifier_;
    for (int fd : fds_)
        if (fd >= 0)
            ::close(fd);
}

void TerminationSignals::onSignal(int signalNumber)
{
    const int saved = errno;
    const char byte = char(signalNumber);
    if (writeFd >= 0 && ::write(writeFd, &byte, 1) < 0) {
        // Nothing a handler could do about it.
    }
    errno = saved;
}

void TerminationSignals::readSignal()
{
    char byte = 0;
    if (::read(fds_[1], &byte, 1) != 1)
        return;
    restoreHandlers();
    qCInfo(lcApp) << "ending on signal" << int(byte);
    Q_EMIT received(int(byte));
}

void TerminationSignals::restoreHandlers()
{
    for (int i = 0; i < 3; ++i) {
        if (installed_[i])
            ::sigaction(kSignals[i], &previous_[i], nullptr);
        installed_[i] = false;
    }
}
