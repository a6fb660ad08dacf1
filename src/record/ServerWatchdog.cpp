#include "ServerWatchdog.h"
#include "RecordLog.h"

#include <QSqlDriver>
#include <QVariant>

#include <libpq-fe.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

namespace {

constexpr auto kCheckPeriod = std::chrono::milliseconds(250);

std::atomic<int> g_limitMs{ServerWatchdog::kSilenceLimitMs};
std::atomic<bool> g_stopping{false};

struct Watched {
    int fd = -1;
    bool cut = false;
};

// Started with the first watch, runs until the process ends (detached: it
// holds nothing that needs tearing down).
class Monitor {
public:
    static Monitor& instance()
    {
        static Monitor* m = new Monitor; // never destroyed: the thread outlives main()'s statics
        return *m;
    }

    int add(int fd)
    {
        std::lock_guard lock(mutex_);
        const int id = ++nextId_;
        watched_[id] = Watched{fd, false};
        if (!thread_.joinable())
            thread_ = std::thread([this] { run(); });
        wake_.notify_one();
        return id;
    }
    void remove(int id)
    {
        std::lock_guard lock(mutex_);
        watched_.erase(id);
    }

private:
    void run()
    {
        std::unique_lock lock(mutex_);
        for (;;) {
            wake_.wait(lock, [this] { return !watched_.empty(); });
            wake_.wait_for(lock, kCheckPeriod);
            const int limit = g_stopping ? qMin(g_limitMs.load(), int(ServerWatchdog::kStopLimitMs)) : g_limitMs.load();
            for (auto& [id, w] : watched_) {
                if (w.cut)
                    continue;
                tcp_info info{};
                socklen_t size = sizeof info;
                if (getsockopt(w.fd, IPPROTO_TCP, TCP_INFO, &info, &size) != 0)
                    continue;
                // A request went out after the last answer came in, and the
                // line has been silent since: the answer is overdue.
                const bool awaiting = info.tcpi_last_data_sent < info.tcpi_last_data_recv;
                if (awaiting && info.tcpi_last_data_sent >= unsigned(limit)) {
                    ::shutdown(w.fd, SHUT_RDWR);
                    w.cut = true;
                    qCWarning(lcRecord) << "server silent for" << info.tcpi_last_data_sent
                                        << "ms with a request waiting; connection cut";
                }
            }
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::map<int, Watched> watched_;
    int nextId_ = 0;
    std::thread thread_;
};

} // namespace

ServerWatchdog::Watch::~Watch() { Monitor::instance().remove(id_); }

std::unique_ptr<ServerWatchdog::Watch> ServerWatchdog::watch(const QSqlDatabase& db)
{
    if (!db.isOpen() || !db.driver())
        return nullptr;
    const QVariant handle = db.driver()->handle();
    // The driver's handle names the library's struct, not its typedef.
    if (!handle.isValid()
        || (qstrcmp(handle.typeName(), "pg_conn*") != 0 && qstrcmp(handle.typeName(), "PGconn*") != 0))
        return nullptr;
    PGconn* conn = *static_cast<PGconn* const*>(handle.data());
    const int fd = conn ? PQsocket(conn) : -1;
    if (fd < 0)
        return nullptr;
    int type = 0;
    socklen_t size = sizeof type;
    sockaddr_storage addr{};
    socklen_t addrSize = sizeof addr;
    if (getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &size) != 0 || type != SOCK_STREAM
        || getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &addrSize) != 0
        || (addr.ss_family != AF_INET && addr.ss_family != AF_INET6))
        return nullptr;
    return std::unique_ptr<Watch>(new Watch(Monitor::instance().add(fd)));
}

void ServerWatchdog::setSilenceLimitMs(int ms) { g_limitMs = ms > 0 ? ms : kSilenceLimitMs; }

void ServerWatchdog::beginStop() { g_stopping = true; }

bool ServerWatchdog::stopping() { return g_stopping; }
