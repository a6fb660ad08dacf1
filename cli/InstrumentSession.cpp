#include "InstrumentSession.h"
#include "LineBus485.h"
#include "PollingCycle.h"

#include <QElapsedTimer>
#include <QFileInfo>

QString outcomeText(LinkOutcome outcome)
{
    switch (outcome) {
    case LinkOutcome::Answered: return QStringLiteral("answered");
    case LinkOutcome::Timeout: return QStringLiteral("no answer in time");
    case LinkOutcome::CrcError: return QStringLiteral("garbled answer");
    case LinkOutcome::Exception: return QStringLiteral("refused by the instrument (Modbus exception)");
    case LinkOutcome::Other: return QStringLiteral("exchange failed");
    case LinkOutcome::DeviceGone: return QStringLiteral("serial device gone");
    case LinkOutcome::NotOpen: return QStringLiteral("port not open");
    case LinkOutcome::PortInUse: return QStringLiteral("port in use by another program");
    case LinkOutcome::Skipped: return QStringLiteral("not attempted");
    }
    return QString();
}

QString outcomeText(LinkOutcome outcome, int exceptionCode)
{
    if (outcome == LinkOutcome::Exception && exceptionCode)
        return QStringLiteral("refused by the instrument (Modbus exception %1)")
            .arg(exceptionTextEnglish(exceptionCode));
    return outcomeText(outcome);
}

InstrumentSession::InstrumentSession(InstrumentOptions options, std::unique_ptr<Modbus485> bus)
    : options_(std::move(options)), bus_(std::move(bus))
{
    if (!bus_)
        bus_ = makeLineBus(options_.ports);
}

InstrumentSession::~InstrumentSession()
{
    if (open_)
        bus_->ClosePort_Modbus(options_.settings.port);
}

QString InstrumentSession::lineText() const
{
    const PortSettings& s = options_.settings;
    return QStringLiteral("port %1 (%2), address %3, %4")
        .arg(s.port)
        .arg(options_.device())
        .arg(s.address)
        .arg(frameText());
}

QString InstrumentSession::busText() const
{
    const PortSettings& s = options_.settings;
    return QStringLiteral("port %1 (%2), %3").arg(s.port).arg(options_.device(), frameText());
}

QString InstrumentSession::frameText() const
{
    const PortSettings& s = options_.settings;
    // The frame is spelt out whole: "8%51" would read as a placeholder %51.
    return QString::number(baudRateOf(s.baudIndex)) + QStringLiteral(" 8") + QLatin1Char(parityLetterOf(s.parityIndex))
           + QLatin1Char('1');
}

bool InstrumentSession::open(QString* error)
{
    const QString device = options_.device();
    // A gateway's address is checked by connecting to it.
    if (!device.contains(QLatin1String("://")) && !QFileInfo::exists(device)) {
        *error = QStringLiteral("port %1: no device %2").arg(options_.settings.port).arg(device);
        return false;
    }
    // The library's open takes the device's lock first, so a line another
    // program holds is refused before anything is sent on it.
    const PortSettings& s = options_.settings;
    if (bus_->OpenPort_Modbus(s.port, s.baudIndex, s.parityIndex) != 0) {
        const LinkOutcome why = bus_->lastOutcome();
        *error = why == LinkOutcome::PortInUse
                     ? QStringLiteral("port in use by another program (%1)").arg(device)
                     : QStringLiteral("cannot open port %1 (%2): %3").arg(s.port).arg(device, outcomeText(why));
        return false;
    }
    open_ = true;
    return true;
}

bool InstrumentSession::poll(LiveImage& image, QString* error)
{
    return pollAt(options_.settings.address, image, error);
}

bool InstrumentSession::pollAt(int address, LiveImage& image, QString* error, const ReadObserver& onRead)
{
    const PortSettings& s = options_.settings;
    QVector<ReadResult> results;
    for (const ReadRequest& request : PollingCycle::cycleRequests()) {
        ReadResult r;
        r.request = request;
        r.data = QVector<qint32>(kReadBufferSize, 0);
        QElapsedTimer clock;
        clock.start();
        const int rc = callRead(*bus_, s.port, address, request, std::span<qint32>(r.data.data(), r.data.size()));
        const double responseMs = double(clock.nsecsElapsed()) / 1e6;
        r.outcome = rc == 0 ? LinkOutcome::Answered : bus_->lastOutcome();
        r.exceptionCode = r.outcome == LinkOutcome::Exception ? bus_->lastExceptionCode() : 0;
        count(r.outcome);
        if (onRead)
            onRead(r.outcome, responseMs);
        results.append(r);
        if (!r.ok()) {
            *error = QStringLiteral("instrument at address %1 on %2: %3")
                         .arg(address)
                         .arg(options_.device(), outcomeText(r.outcome, r.exceptionCode));
            PollingCycle::apply(results, image);
            return false;
        }
    }
    PollingCycle::apply(results, image);
    return true;
}

WriteResult InstrumentSession::writeRegister(int holdingRegister, qint32 value)
{
    const PortSettings& s = options_.settings;
    const WriteResult r = writeWithOneRepeat(*bus_, s.port, s.address, holdingRegister, value);
    for (int i = 0; i < r.calls; ++i)
        count(i + 1 == r.calls ? r.outcome : LinkOutcome::Other);
    return r;
}

WriteResult InstrumentSession::writeCoil(int coil, bool on)
{
    const PortSettings& s = options_.settings;
    const WriteResult r =
        performWrite(*bus_, s.port, s.address, {on ? WriteFn::Set_0X_Bit1 : WriteFn::Rst_0X_Bit1, coil, 0});
    count(r.outcome);
    return r;
}
