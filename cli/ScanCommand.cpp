#include "CliApp.h"
#include "DeviceLock.h"
#include "LoopList.h"
#include "NumberText.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cerrno>
#include <cmath>
#include <modbus/modbus.h>

namespace {

constexpr int kFirstAddress = 1;
constexpr int kLastAddress = 16;

// What one address said to a PV read (input registers 1-8).
struct Probe {
    enum class Outcome { Answered, Silent, Garbled, Refused };
    Outcome outcome = Outcome::Silent;
    float pv = 0;
    double responseMs = 0;
};

// The line, asked one address at a time with a short timeout. libmodbus
// directly rather than the station's link: the link waits long for a slow
// instrument and longer still for a late reply, which over sixteen mostly
// empty addresses would make a scan take half a minute.
class LineProbe {
public:
    ~LineProbe()
    {
        if (ctx_) {
            modbus_close(ctx_);
            modbus_free(ctx_);
        }
    }

    bool open(const QString& device, int baud, char parity, QString* error)
    {
        // The lock first: a line another program holds is left untouched.
        if (lock_.acquire(device) != DeviceLock::Status::Held) {
            *error = QStringLiteral("%1 (%2)").arg(lock_.reason(), device);
            return false;
        }
        ctx_ = modbus_new_rtu(device.toLocal8Bit().constData(), baud, parity, 8, 1);
        if (!ctx_ || modbus_connect(ctx_) != 0) {
            *error = QStringLiteral("cannot open %1: %2").arg(device, QString::fromLocal8Bit(modbus_strerror(errno)));
            return false;
        }
        // One character is 11 bits on the wire. The reply must start within
        // the short wait plus the time the request takes to leave; within
        // it, no gap longer than a few characters.
        const double charMs = 11000.0 / baud;
        timeoutMs_ = 150 + int(std::ceil(8 * charMs));
        const int byteMs = std::max(20, int(std::ceil(5 * charMs)));
        modbus_set_response_timeout(ctx_, 0, uint32_t(timeoutMs_) * 1000);
        modbus_set_byte_timeout(ctx_, 0, uint32_t(byteMs) * 1000);
        return true;
    }

    Probe ask(int address)
    {
        Probe p;
        uint16_t regs[8] = {};
        // Whatever is still arriving from an earlier address is never taken
        // as this one's answer (libmodbus also checks the reply's address).
        modbus_flush(ctx_);
        modbus_set_slave(ctx_, address);
        QElapsedTimer clock;
        clock.start();
        const int rc = modbus_read_input_registers(ctx_, 0, 8, regs);
        p.responseMs = double(clock.nsecsElapsed()) / 1e6;
        if (rc == 8) {
            p.outcome = Probe::Outcome::Answered;
            p.pv = float(qint16(regs[0])); // the instrument's registers are signed
        } else if (errno >= EMBXILFUN && errno <= EMBXGPATH) {
            p.outcome = Probe::Outcome::Refused;
        } else if (errno == EMBBADCRC || errno == EMBBADDATA || errno == EMBBADSLAVE) {
            p.outcome = Probe::Outcome::Garbled;
        }
        return p;
    }

    int timeoutMs() const { return timeoutMs_; }

private:
    DeviceLock lock_;
    modbus_t* ctx_ = nullptr;
    int timeoutMs_ = 0;
};

QString outcomeWord(Probe::Outcome o)
{
    switch (o) {
    case Probe::Outcome::Answered: return QStringLiteral("answered");
    case Probe::Outcome::Silent: return QStringLiteral("silent");
    case Probe::Outcome::Garbled: return QStringLiteral("garbled");
    case Probe::Outcome::Refused: return QStringLiteral("refused");
    }
    return QString();
}

} // namespace

int runScan(CliContext& cx)
{
    QCommandLineParser parser;
    const QCommandLineOption json(QStringLiteral("json"), QStringLiteral("Print one JSON object instead of text."));
    parser.addOption(json);
    InstrumentOptions options;
    int code = kExitOk;
    if (!cx.parseInstrument(parser,
                            QStringLiteral("[--json] [--port N=DEVICE] [--port-number N] [--baud B] [--parity P]"),
                            QStringLiteral("Asks every address 1-16 on the line for its PV (input registers 1-8), "
                                           "once each with a short timeout and once more for those that did not "
                                           "answer, and prints who answered, their PV and response time, and the "
                                           "--loops list for them. Exit 0 when at least one answered, 1 when none "
                                           "did or the line cannot be opened. --address and --journal do not apply."),
                            &options, &code))
        return code;
    if (const int refused = cx.refuseArguments(parser))
        return refused;
    if (parser.isSet(QStringLiteral("address")))
        return cx.usage(QStringLiteral("--address does not apply: scan asks every address"));
    if (parser.isSet(QStringLiteral("journal")))
        return cx.usage(QStringLiteral("--journal does not apply: scan only reads"));

    const PortSettings& s = options.settings;
    const QString device = options.device();
    if (!QFileInfo::exists(device))
        return cx.fail(kExitFailed, QStringLiteral("port %1: no device %2").arg(s.port).arg(device));
    LineProbe line;
    QString error;
    const int baud = baudRateOf(s.baudIndex);
    const char parity = parityLetterOf(s.parityIndex);
    if (!line.open(device, baud, parity, &error))
        return cx.fail(kExitFailed, error);

    std::array<Probe, kLastAddress + 1> probes{};
    for (int a = kFirstAddress; a <= kLastAddress; ++a)
        probes[a] = line.ask(a);
    // A second try for whoever did not answer: an instrument busy once, or
    // a reply lost to noise, is not left out.
    for (int a = kFirstAddress; a <= kLastAddress; ++a)
        if (probes[a].outcome == Probe::Outcome::Silent || probes[a].outcome == Probe::Outcome::Garbled)
            probes[a] = line.ask(a);

    QVector<int> answered;
    for (int a = kFirstAddress; a <= kLastAddress; ++a)
        if (probes[a].outcome == Probe::Outcome::Answered)
            answered << a;
    // "8N1" spelled out: "%41" would be read as a placeholder of its own.
    const QString lineText =
        QStringLiteral("port %1 (%2), %3 8").arg(s.port).arg(device).arg(baud) + QLatin1Char(parity) + QLatin1Char('1');

    if (parser.isSet(json)) {
        QJsonArray addresses;
        for (int a = kFirstAddress; a <= kLastAddress; ++a) {
            const Probe& p = probes[a];
            QJsonObject o{{QStringLiteral("address"), a}, {QStringLiteral("outcome"), outcomeWord(p.outcome)}};
            if (p.outcome == Probe::Outcome::Answered) {
                o.insert(QStringLiteral("pv"), double(p.pv));
                o.insert(QStringLiteral("response_ms"), std::round(p.responseMs * 10) / 10);
            }
            addresses.append(o);
        }
        const QJsonObject report{{QStringLiteral("line"), lineText},
                                 {QStringLiteral("timeout_ms"), line.timeoutMs()},
                                 {QStringLiteral("addresses"), addresses},
                                 {QStringLiteral("loops"), LoopList::format(answered)}};
        cx.print(QString::fromUtf8(QJsonDocument(report).toJson(QJsonDocument::Indented)));
    } else {
        QString text = QStringLiteral("%1, addresses %2-%3:\n").arg(lineText).arg(kFirstAddress).arg(kLastAddress);
        for (int a = kFirstAddress; a <= kLastAddress; ++a) {
            const Probe& p = probes[a];
            if (p.outcome == Probe::Outcome::Answered)
                text += QStringLiteral("  address %1: PV %2, %3 ms\n")
                            .arg(a, 2)
                            .arg(singleText(p.pv), QString::number(p.responseMs, 'f', 1));
            else if (p.outcome != Probe::Outcome::Silent)
                text += QStringLiteral("  address %1: %2 (not listed)\n").arg(a, 2).arg(outcomeWord(p.outcome));
        }
        if (!answered.isEmpty())
            text +=
                QStringLiteral("%1 answered; use --loops %2\n").arg(answered.size()).arg(LoopList::format(answered));
        cx.print(text);
    }
    if (answered.isEmpty())
        return cx.fail(kExitFailed, QStringLiteral("no instrument answered on %1").arg(lineText));
    return kExitOk;
}
