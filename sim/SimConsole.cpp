#include "SimServerPrivate.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>

// The control commands the simulator reads from its standard input.

using Clock = std::chrono::steady_clock;

QString SimServer::commandHelp()
{
    return QStringLiteral(
        "fault open|short|heater|none   sensor open or short circuit, broken heater, or all cleared\n"
        "silent SECONDS                 neither answer nor act for SECONDS of wall time (0 ends it)\n"
        "late MS [COUNT]                delay replies by MS; COUNT replies only, else until 'late 0'\n"
        "garbage [COUNT]                send the next COUNT replies (default 1) with a bad CRC\n"
        "deaf-writes [COUNT]            lose the next COUNT write requests (default 1): no answer, no change\n"
        "setpoint-step [DELTA]          move SV by DELTA (default 50), back down near the range top\n"
        "disturbance [PERCENT [SECONDS]] extra heat loss worth PERCENT output (default 20) for SECONDS (120)\n"
        "set hr|coil NUMBER VALUE       write as the master would (numbers from 1)\n"
        "get hr|ir|coil|di NUMBER       read one register or point\n"
        "pin CELSIUS|off                hold the process temperature, or let it go\n"
        "speed K                        simulated seconds per second\n"
        "writes [clear]                 accepted register writes so far, oldest first (REG=VALUE ...)\n"
        "status                         one line of state\n"
        "help                           this text\n"
        "With several instruments on the line, put @N before a command for the one at address N\n"
        "('@3 fault open', '@5 silent 10'). Without it a command is for all of them; get and writes\n"
        "need @N, status gives one line per instrument (each begins '@N '), speed is the line's.");
}

namespace {

// A whole-word integer, from the C locale whatever the environment.
std::optional<int> wholeNumber(QStringView text)
{
    const QByteArray bytes = text.toLatin1();
    int value = 0;
    const auto [end, ec] = std::from_chars(bytes.constData(), bytes.constData() + bytes.size(), value);
    if (ec != std::errc() || end != bytes.constData() + bytes.size() || bytes.isEmpty())
        return std::nullopt;
    return value;
}

std::optional<double> decimalNumber(QStringView text)
{
    const QByteArray bytes = text.toLatin1();
    double value = 0.0;
    const auto [end, ec] = std::from_chars(bytes.constData(), bytes.constData() + bytes.size(), value);
    if (ec != std::errc() || end != bytes.constData() + bytes.size() || bytes.isEmpty() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

} // namespace

std::vector<int> simParseAddressList(const QString& text, QString* error)
{
    std::vector<int> addresses;
    auto fault = [&](const QString& why) {
        if (error)
            *error = why;
        return std::vector<int>{};
    };
    const QStringList parts = text.split(QLatin1Char(','));
    for (const QString& part : parts) {
        const qsizetype dash = part.indexOf(QLatin1Char('-'));
        const auto low = wholeNumber(QStringView(part).left(dash < 0 ? part.size() : dash).trimmed());
        const auto high = dash < 0 ? low : wholeNumber(QStringView(part).mid(dash + 1).trimmed());
        if (!low || !high || *low > *high)
            return fault(QStringLiteral("'%1' is neither an address nor a range LOW-HIGH").arg(part));
        if (*low < 1 || *high > 16)
            return fault(QStringLiteral("'%1' lies outside addresses 1..16").arg(part));
        for (int a = *low; a <= *high; ++a) {
            if (std::find(addresses.begin(), addresses.end(), a) != addresses.end())
                return fault(QStringLiteral("address %1 is given twice").arg(a));
            addresses.push_back(a);
        }
    }
    std::sort(addresses.begin(), addresses.end());
    return addresses;
}

bool simParsePlantOverride(const QString& text, std::map<int, SimPlantOverride>& overrides, QString* error)
{
    auto fault = [&](const QString& why) {
        if (error)
            *error = QStringLiteral("--plant %1: %2").arg(text, why);
        return false;
    };
    const qsizetype equals = text.indexOf(QLatin1Char('='));
    const auto address = wholeNumber(QStringView(text).left(equals < 0 ? 0 : equals).trimmed());
    if (!address || *address < 1 || *address > 247)
        return fault(QStringLiteral("wants ADDRESS=gain:K,tau:S,dead:S"));
    SimPlantOverride plant = overrides[*address];
    const QStringList items = text.mid(equals + 1).split(QLatin1Char(','));
    for (const QString& item : items) {
        const qsizetype colon = item.indexOf(QLatin1Char(':'));
        const QString key = item.left(colon).trimmed().toLower();
        const auto value = colon < 0 ? std::nullopt : decimalNumber(QStringView(item).mid(colon + 1).trimmed());
        if (!value)
            return fault(QStringLiteral("'%1' wants NAME:NUMBER").arg(item));
        if (key == QLatin1String("gain") && std::abs(*value) <= 1000.0)
            plant.gain = *value;
        else if (key == QLatin1String("tau") && *value >= 1.0 && *value <= 1e6)
            plant.timeConstant = *value;
        else if (key == QLatin1String("dead") && *value >= 0.0 && *value <= 3600.0)
            plant.deadTime = *value;
        else
            return fault(QStringLiteral("'%1': gain -1000..1000, tau 1..1000000 s, dead 0..3600 s").arg(item));
    }
    overrides[*address] = plant;
    return true;
}

QString SimServer::command(const QString& line)
{
    const QStringList words = line.simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (words.isEmpty())
        return QString();
    std::lock_guard lock(d->mutex);
    d->advanceLocked(Clock::now());
    if (!words[0].startsWith(QLatin1Char('@')))
        return d->commandLocked(d->several() ? nullptr : d->units.front().get(), words);
    const auto address = wholeNumber(QStringView(words[0]).mid(1));
    if (!address || words.size() < 2)
        return QStringLiteral("error: usage: @ADDRESS COMMAND");
    SimUnit* unit = d->unitAt(*address);
    if (!unit)
        return QStringLiteral("error: address %1 is not served").arg(*address);
    return d->commandLocked(unit, words.mid(1));
}

QString SimServer::Private::statusLocked(const SimUnit& unit) const
{
    const SimInstrument& model = unit.model;
    const char* fault = "none";
    switch (model.sensorFault()) {
    case SimInstrument::SensorFault::Open: fault = "open"; break;
    case SimInstrument::SensorFault::Short: fault = "short"; break;
    case SimInstrument::SensorFault::None: fault = model.heaterBroken() ? "heater" : "none"; break;
    }
    const auto now = Clock::now();
    const double silentLeft =
        now < unit.silentUntil ? std::chrono::duration<double>(unit.silentUntil - now).count() : 0.0;
    return QStringLiteral("time=%1 pv=%2 sv=%3 op=%4 aux=%5 mode=%6 tune=%7 alarm1=%8 alarm2=%9 fault=%10 "
                          "speed=%11 late=%12 silent=%13 requests=%14 replies=%15 ignored=%16 dropped=%17")
               .arg(model.simulatedTime(), 0, 'f', 1)
               .arg(model.input(SimReg::Pv))
               .arg(model.holding(SimReg::Sv))
               .arg(model.input(SimReg::Op) / 10.0, 0, 'f', 1)
               .arg(model.input(SimReg::Aux))
               .arg(QLatin1String(model.coil(SimReg::Automatic) ? "auto" : "manual"))
               .arg(QLatin1String(model.coil(SimReg::SelfTune) ? "on" : "off"))
               .arg(int(model.discreteInput(SimReg::Alarm1Output)))
               .arg(int(model.discreteInput(SimReg::Alarm2Output)))
               .arg(QLatin1String(fault))
               .arg(speed)
               .arg(unit.lateMs)
               .arg(silentLeft, 0, 'f', 1)
               .arg(unit.requests)
               .arg(unit.replies)
               .arg(ignored)
               .arg(unit.dropped)
           + QStringLiteral(" plant=%1/%2/%3")
                 .arg(model.plant().gain)
                 .arg(model.plant().timeConstant)
                 .arg(model.plant().deadTime);
}

QString SimServer::Private::commandLocked(SimUnit* unit, const QStringList& w)
{
    const QString verb = w[0].toLower();
    if (verb == QLatin1String("help"))
        return commandHelp();
    if (verb == QLatin1String("speed")) {
        const auto a = decimalNumber(w.value(1));
        if (!a || !(*a > 0.0) || *a > 100000.0)
            return QStringLiteral("error: usage: speed K");
        speed = *a;
        return QStringLiteral("ok");
    }
    if (unit)
        return unitCommandLocked(*unit, w);
    if (verb == QLatin1String("status")) {
        QStringList lines;
        for (const auto& each : units)
            lines.append(QStringLiteral("@%1 ").arg(each->address) + statusLocked(*each));
        return lines.join(QLatin1Char('\n'));
    }
    if (verb == QLatin1String("get")
        || (verb == QLatin1String("writes") && w.value(1).toLower() != QLatin1String("clear")))
        return QStringLiteral("error: %1 is for one instrument: @ADDRESS %1 ...").arg(verb);
    // Every instrument, or none: a command wrong for one is wrong for all.
    QString answer;
    for (const auto& each : units) {
        answer = unitCommandLocked(*each, w);
        if (answer.startsWith(QLatin1String("error")))
            return answer;
    }
    return answer.startsWith(QLatin1String("ok")) ? QStringLiteral("ok") : answer;
}

QString SimServer::Private::unitCommandLocked(SimUnit& unit, const QStringList& w)
{
    SimInstrument& model = unit.model;
    const QString verb = w[0].toLower();
    const QString arg1 = w.size() > 1 ? w[1].toLower() : QString();
    auto number = [&](int i, double* out) {
        bool ok = false;
        *out = i < w.size() ? w[i].toDouble(&ok) : 0.0;
        return ok && std::isfinite(*out);
    };
    auto exceptionText = [](SimException e) {
        return e == SimException::None ? QStringLiteral("ok") : QStringLiteral("error: exception %1").arg(int(e));
    };
    const QString usage = QStringLiteral("error: usage: ");
    double a = 0.0;
    double b = 0.0;

    if (verb == QLatin1String("fault")) {
        if (arg1 == QLatin1String("open"))
            model.setSensorFault(SimInstrument::SensorFault::Open);
        else if (arg1 == QLatin1String("short"))
            model.setSensorFault(SimInstrument::SensorFault::Short);
        else if (arg1 == QLatin1String("heater"))
            model.setHeaterBroken(true);
        else if (arg1 == QLatin1String("none")) {
            model.setSensorFault(SimInstrument::SensorFault::None);
            model.setHeaterBroken(false);
        } else
            return usage + QStringLiteral("fault open|short|heater|none");
        return QStringLiteral("ok");
    }
    if (verb == QLatin1String("silent")) {
        if (!number(1, &a) || a < 0.0)
            return usage + QStringLiteral("silent SECONDS");
        unit.silentUntil = Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(a));
        return QStringLiteral("ok");
    }
    if (verb == QLatin1String("late")) {
        if (!number(1, &a) || a < 0.0 || a > 600000.0 || (w.size() > 2 && (!number(2, &b) || b < 1.0)))
            return usage + QStringLiteral("late MS [COUNT]");
        unit.lateMs = int(a);
        unit.lateCount = w.size() > 2 ? int(b) : -1;
        return QStringLiteral("ok");
    }
    if (verb == QLatin1String("garbage")) {
        if (w.size() > 1 && (!number(1, &a) || a < 0.0))
            return usage + QStringLiteral("garbage [COUNT]");
        unit.garbageCount = w.size() > 1 ? int(a) : 1;
        return QStringLiteral("ok");
    }
    if (verb == QLatin1String("deaf-writes")) {
        if (w.size() > 1 && (!number(1, &a) || a < 0.0))
            return usage + QStringLiteral("deaf-writes [COUNT]");
        unit.deafWrites = w.size() > 1 ? int(a) : 1;
        return QStringLiteral("ok");
    }
    if (verb == QLatin1String("setpoint-step")) {
        if (w.size() > 1 && !number(1, &a))
            return usage + QStringLiteral("setpoint-step [DELTA]");
        model.setpointStep(w.size() > 1 ? int(a) : 50);
        return QStringLiteral("ok sv=%1").arg(model.holding(SimReg::Sv));
    }
    if (verb == QLatin1String("disturbance")) {
        a = 20.0;
        b = 120.0;
        if ((w.size() > 1 && !number(1, &a)) || (w.size() > 2 && !number(2, &b)))
            return usage + QStringLiteral("disturbance [PERCENT [SECONDS]]");
        model.disturb(a, b);
        return QStringLiteral("ok");
    }
    if (verb == QLatin1String("set") || verb == QLatin1String("get")) {
        const bool set = verb == QLatin1String("set");
        if (!number(2, &a) || (set && !number(3, &b)))
            return usage
                   + (set ? QStringLiteral("set hr|coil NUMBER VALUE") : QStringLiteral("get hr|ir|coil|di NUMBER"));
        const int n = int(a);
        if (set) {
            if (arg1 == QLatin1String("hr")) {
                const qint16 v = qint16(std::clamp(b, -32768.0, 32767.0));
                return exceptionText(model.writeRegisters(n, std::span(&v, 1)));
            }
            if (arg1 == QLatin1String("coil")) {
                const bool on = b != 0.0;
                return exceptionText(model.writeCoils(n, std::span(&on, 1)));
            }
            return usage + QStringLiteral("set hr|coil NUMBER VALUE");
        }
        SimTable table;
        if (arg1 == QLatin1String("hr"))
            table = SimTable::HoldingRegisters;
        else if (arg1 == QLatin1String("ir"))
            table = SimTable::InputRegisters;
        else if (arg1 == QLatin1String("coil"))
            table = SimTable::Coils;
        else if (arg1 == QLatin1String("di"))
            table = SimTable::DiscreteInputs;
        else
            return usage + QStringLiteral("get hr|ir|coil|di NUMBER");
        quint16 v = 0;
        const SimException e = model.read(table, n, 1, std::span(&v, 1));
        if (e != SimException::None)
            return exceptionText(e);
        return QString::number(table == SimTable::Coils || table == SimTable::DiscreteInputs ? int(v) : int(qint16(v)));
    }
    if (verb == QLatin1String("pin")) {
        if (arg1 == QLatin1String("off")) {
            model.pinTemperature(std::nullopt);
            return QStringLiteral("ok");
        }
        if (!number(1, &a))
            return usage + QStringLiteral("pin CELSIUS|off");
        model.pinTemperature(a);
        return QStringLiteral("ok");
    }
    if (verb == QLatin1String("writes")) {
        if (arg1 == QLatin1String("clear")) {
            model.clearWriteLog();
            return QStringLiteral("ok");
        }
        QStringList log;
        for (const auto& [reg, value] : model.writeLog())
            log.append(QStringLiteral("%1=%2").arg(reg).arg(value));
        return log.join(QLatin1Char(' '));
    }
    if (verb == QLatin1String("status"))
        return statusLocked(unit);
    return QStringLiteral("error: unknown command '%1' (try help)").arg(w[0]);
}
