#pragma once
// Loopback stand-ins for the gateways in a plant cabinet, as child
// processes: socat between a TCP port and a pseudo-terminal (a transparent
// device server), the pymodbus TCP server (a Modbus TCP gateway) and
// tcp_fault_gateway.py (a gateway that misbehaves on purpose).
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QThread>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace gateways {

inline const char* kPython = "/usr/bin/python3"; // the system one, where the Debian package lives

// A loopback TCP port nobody listens on right now.
inline int freeLoopbackPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

// Whether something accepts on 127.0.0.1:port.
inline bool listening(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(quint16(port));
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(fd);
    return ok;
}

// A child process serving 127.0.0.1:port; stopped when destroyed.
class Server {
public:
    ~Server() { stop(); }
    bool start(const QString& program, const QStringList& args, int port)
    {
        port_ = port;
        process_.setProgram(program);
        process_.setArguments(args);
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start();
        if (!process_.waitForStarted(3000))
            return false;
        for (int i = 0; i < 100; ++i) {
            if (process_.state() != QProcess::Running)
                return false;
            if (!probe_) {
                QThread::msleep(300);
                return process_.state() == QProcess::Running;
            }
            if (listening(port))
                return true;
            QThread::msleep(50);
        }
        return false;
    }
    void stop()
    {
        if (process_.state() == QProcess::NotRunning)
            return;
        process_.kill();
        process_.waitForFinished(3000);
    }
    void setProbe(bool probe) { probe_ = probe; }
    int port() const { return port_; }

private:
    QProcess process_;
    int port_ = 0;
    bool probe_ = true;
};

// socat between 127.0.0.1:port and a serial device (a pseudo-terminal), for
// one connection, so that stopping it drops the connection.
inline bool bridge(Server& s, const QString& device, int port)
{
    s.setProbe(false); // a probe would open the device and might take a reply meant for the test
    return s.start(QStringLiteral("socat"),
                   {QStringLiteral("TCP-LISTEN:%1,bind=127.0.0.1,reuseaddr").arg(port),
                    QStringLiteral("FILE:%1,raw,echo=0").arg(device)},
                   port);
}

inline QString script(const char* name) { return QStringLiteral(PX_TEST_SCRIPTS "/") + QLatin1String(name); }

// The pymodbus TCP server with the registers the station polls; with
// `units` ("2,5") a gateway to a line of those instruments only.
inline bool modbusTcpServer(Server& s, int port, const QString& units = QString())
{
    QStringList args{script("modbus_tcp_server.py"), QString::number(port)};
    if (!units.isEmpty())
        args << units;
    return s.start(QLatin1String(kPython), args, port);
}

// A gateway that misbehaves: "silent" accepts and never answers; "hold"
// answers each Modbus TCP request only when the next one comes.
inline bool faultGateway(Server& s, const char* mode, int port)
{
    return s.start(QLatin1String(kPython), {script("tcp_fault_gateway.py"), QLatin1String(mode), QString::number(port)},
                   port);
}

} // namespace gateways
