#include "TuneCommand.h"
#include "FopdtFit.h"
#include "StationClock.h"
#include "HistoryPeriod.h"
#include "PidRules.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>

namespace TuneCommand {
namespace {

struct Suggestion {
    TuningSpeed speed;
    ControllerKind kind;
    InstrumentPid pid;
};

QString kindText(ControllerKind kind)
{
    return kind == ControllerKind::PI ? QStringLiteral("PI") : QStringLiteral("PID");
}

QJsonObject toJson(const InstrumentPid& p)
{
    return QJsonObject{{QStringLiteral("proportional_band"), p.band},
                       {QStringLiteral("integral_time_s"), p.integral},
                       {QStringLiteral("derivative_time_s"), p.derivativeTenths / 10.0},
                       {QStringLiteral("registers"),
                        QJsonObject{{QString::number(InstrumentPid::kBandRegister), p.band},
                                    {QString::number(InstrumentPid::kIntegralRegister), p.integral},
                                    {QString::number(InstrumentPid::kDerivativeRegister), p.derivativeTenths}}}};
}

} // namespace

QDateTime parseTime(const QString& text) { return TimeText::fromText(text.trimmed()); }

int execute(const Request& request, QTextStream& out, QString* error)
{
    const auto series = HistoryPeriod::read(request.databasePath, request.from, request.to, error);
    if (!series)
        return kUnreadable;
    const FopdtFit fit = Fopdt::fit(series->pv, series->op, series->period);

    std::vector<Suggestion> suggestions;
    if (fit.usable()) {
        for (TuningSpeed speed : {TuningSpeed::Fast, TuningSpeed::Robust})
            for (ControllerKind kind : {ControllerKind::PI, ControllerKind::PID})
                if (const auto s = Simc::suggest(fit.model, kind, speed))
                    suggestions.push_back({speed, kind, InstrumentPid::fromSettings(*s)});
    }

    if (request.json) {
        QJsonObject o{{QStringLiteral("samples"), qint64(series->pv.size())},
                      {QStringLiteral("gain"), fit.model.gain},
                      {QStringLiteral("time_constant_s"), fit.model.timeConstant},
                      {QStringLiteral("dead_time_s"), fit.model.deadTime},
                      {QStringLiteral("r2"), fit.r2},
                      {QStringLiteral("residual_rms"), fit.residualRms},
                      {QStringLiteral("usable"), fit.usable()},
                      {QStringLiteral("verdict"), Fopdt::verdictText(fit)}};
        // "pid": the robust PID, the one to write when in doubt.
        o.insert(QStringLiteral("pid"), QJsonValue());
        QJsonObject all;
        for (const Suggestion& s : suggestions) {
            const QString speed = s.speed == TuningSpeed::Fast ? QStringLiteral("fast") : QStringLiteral("robust");
            QJsonObject bySpeed = all.value(speed).toObject();
            bySpeed.insert(kindText(s.kind).toLower(), toJson(s.pid));
            all.insert(speed, bySpeed);
            if (s.speed == TuningSpeed::Robust && s.kind == ControllerKind::PID)
                o.insert(QStringLiteral("pid"), toJson(s.pid));
        }
        o.insert(QStringLiteral("suggestions"), all);
        out << QJsonDocument(o).toJson(QJsonDocument::Indented);
    } else {
        out << QCoreApplication::translate("TuneCommand", "样本 %1 个 (每秒一个)").arg(series->pv.size()) << '\n';
        out << QCoreApplication::translate("TuneCommand",
                                           "增益 K = %1 /%\n时间常数 τ = %2 s\n纯滞后 θ = %3 s\nR² = %4\n残差 = %5\n")
                   .arg(fit.model.gain, 0, 'g', 4)
                   .arg(fit.model.timeConstant, 0, 'f', 1)
                   .arg(fit.model.deadTime, 0, 'f', 0)
                   .arg(fit.r2, 0, 'f', 4)
                   .arg(fit.residualRms, 0, 'f', 3);
        out << Fopdt::verdictText(fit) << '\n';
        for (const Suggestion& s : suggestions)
            out << QCoreApplication::translate("TuneCommand", "%1 %2: 比例带 %3  积分时间 %4 s  微分时间 %5 s%6\n")
                       .arg(Simc::speedText(s.speed), kindText(s.kind))
                       .arg(s.pid.band)
                       .arg(s.pid.integral)
                       .arg(s.pid.derivativeTenths / 10.0, 0, 'f', 1)
                       .arg(s.pid.clamped ? QCoreApplication::translate("TuneCommand", "  (已限幅)") : QString());
    }
    out.flush();
    if (!fit.usable() && error)
        *error = Fopdt::verdictText(fit);
    return fit.usable() ? kSuggested : kNoSuggestion;
}

} // namespace TuneCommand
