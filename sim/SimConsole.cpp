#include "SimServerPrivate.h"

#include <algorithm>
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
        "help                           this text");
}

QString SimServer::command(const QString& line)
{
    const QStringList words = line.simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (words.isEmpty())
        return QString();
    std::lock_guard lock(d->mutex);
    d->advanceLocked(Clock::now());
    return d->commandLocked(words);
}

QString SimServer::Private::statusLocked() const
{
    const char* fault = "none";
    switch (model.sensorFault()) {
    case SimInstrument::SensorFault::Open:
        fault = "open";
        break;
    case SimInstrument::SensorFault::Short:
        fault = "short";
        break;
    case SimInstrument::SensorFault::None:
        fault = model.heaterBroken() ? "heater" : "none";
        break;
    }
    const auto now = Clock::now();
    const double silentLeft = now < silentUntil ? std::chrono::duration<double>(silentUntil - now).count() : 0.0;
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
        .arg(lateMs)
        .arg(silentLeft, 0, 'f', 1)
        .arg(requests)
        .arg(replies)
        .arg(ignored)
        .arg(dropped);
}

QString SimServer::Private::commandLocked(const QStringList& w)
{
    const QString verb = w[0].toLower();
    const QString arg1 = w.size() > 1 ? w[1].toLower() : QString();
    auto number = [&](int i, double* out) {
        bool ok = false;
        *out = i < w.size() ? w[i].toDouble(&ok) : 0.0;
        return ok && std::isfinite(*out);
    };
    auto exceptionText = [](SimException e) {
        return e == SimException::None ? QStringLiteral("ok")
                                       : QStringLiteral("error: exception %1").arg(int(e));
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
        silentUntil = Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(a));
        return QStringLiteral("ok");
    }
    if (verb == QLatin1String("late")) {
        if (!number(1, &a) || a < 0.0 || a > 600000.0 || (w.size() > 2 && (!number(2, &b) || b < 1.0)))
            return usage + QStringLiteral("late MS [COUNT]");
        lateMs = int(a);
        lateCount = w.size() > 2 ? int(b) : -1;
        return QStringLiteral("ok");
    }
    if (verb == QLatin1String("garbage")) {
        if (w.size() > 1 && (!number(1, &a) || a < 0.0))
            return usage + QStringLiteral("garbage [COUNT]");
        garbageCount = w.size() > 1 ? int(a) : 1;
        return QStringLiteral("ok");
    }
    if (verb == QLatin1String("deaf-writes")) {
        if (w.size() > 1 && (!number(1, &a) || a < 0.0))
            return usage + QStringLiteral("deaf-writes [COUNT]");
        deafWrites = w.size() > 1 ? int(a) : 1;
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
            return usage + (set ? QStringLiteral("set hr|coil NUMBER VALUE") : QStringLiteral("get hr|ir|coil|di NUMBER"));
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
    if (verb == QLatin1String("speed")) {
        if (!number(1, &a) || a <= 0.0 || a > 100000.0)
            return usage + QStringLiteral("speed K");
        speed = a;
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
        return statusLocked();
    if (verb == QLatin1String("help"))
        return commandHelp();
    return QStringLiteral("error: unknown command '%1' (try help)").arg(w[0]);
}
