#include "TuningWrites.h"

#include "LinkClient.h"
#include "ParamTable.h"
#include "PidRules.h"
#include "TuningLog.h"
#include "WriteAudit.h"
#include "WriteLabels.h"

#include <memory>

void TuningWrites::write(const WriteRequest& request, const QString& why, Done done)
{
    qCInfo(lcTuning) << "write" << int(request.fn) << request.address << request.value << why;
    auditedWrite(audit_, link_, requester_, request, WriteLabels::forRequest(request),
                 [why, done = std::move(done)](const WriteResult& result) {
                     const bool answered = result.outcome == LinkOutcome::Answered;
                     if (!answered)
                         qCWarning(lcTuning) << "write failed:" << why << outcomeName(result.outcome);
                     if (done)
                         done(answered);
                 });
}

bool TuningWrites::writePid(const InstrumentPid& pid, PidDone done)
{
    // As text through the entry rule, so the bounds are exactly those of a
    // value typed into the configuration window.
    const struct {
        int param;
        QString text;
    } entries[] = {
        {InstrumentPid::kBandParam, QString::number(pid.band)},
        {InstrumentPid::kIntegralParam, QString::number(pid.integral)},
        {InstrumentPid::kDerivativeParam, QString::number(pid.derivativeTenths / 10.0, 'f', 1)},
    };
    WriteRequest requests[3];
    bool allAccepted = true;
    for (int i = 0; i < 3; ++i) {
        const EntryRule::Verdict verdict = ParamTable::entryVerdict(entries[i].param, entries[i].text);
        requests[i] = {WriteFn::Set_4X_D1, ParamTable::param(entries[i].param).address, verdict.value.value_or(0)};
        if (!verdict.accepted()) {
            allAccepted = false;
            qCWarning(lcTuning) << "suggested" << entries[i].text << "for parameter" << entries[i].param
                                << "refused:" << verdict.refusal;
            auditRefusal(audit_, requests[i], WriteLabels::forParameter(entries[i].param), entries[i].text,
                         verdict.refusal);
        }
    }
    if (!allAccepted)
        return false;
    struct Tally {
        int pending = 3;
        QStringList failures;
    };
    auto tally = std::make_shared<Tally>();
    for (int i = 0; i < 3; ++i) {
        const WriteRequest& request = requests[i];
        const QString caption = ParamTable::shown(ParamTable::param(entries[i].param).caption);
        qCInfo(lcTuning) << "write" << request.address << request.value << "suggested setting";
        auditedWrite(audit_, link_, requester_, request, WriteLabels::forRequest(request),
                     [tally, caption, done](const WriteResult& result) {
                         if (result.outcome != LinkOutcome::Answered) {
                             qCWarning(lcTuning)
                                 << "suggested setting not written:" << caption << outcomeName(result.outcome);
                             tally->failures << QStringLiteral("%1 %2").arg(
                                 caption, QString::fromLatin1(outcomeName(result.outcome)));
                         }
                         if (--tally->pending == 0 && done)
                             done(tally->failures.join(QStringLiteral(", ")));
                     });
    }
    return true;
}
