#include "ParameterRestore.h"

#include "LinkClient.h"
#include "Modbus485.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QTimer>

Q_LOGGING_CATEGORY(lcParams, "px.instrument.params")

namespace ParameterSet {

void LinkTarget::write(int reg, qint32 value, WriteDone done)
{
    link_.write(requester_, WriteRequest{WriteFn::Set_4X_D1, reg, value}, std::move(done));
}

void LinkTarget::readAll(ReadDone done)
{
    if (link_.readBatch(requester_, readRequests(), done))
        return;
    // Another read of this requester is still out: report a failed read
    // rather than never finishing.
    qCWarning(lcParams) << "set not read: a read of the same requester is still out";
    done({});
}

void BusTarget::write(int reg, qint32 value, WriteDone done)
{
    done(writeWithOneRepeat(bus_, port_.port, port_.address, reg, value));
}

void BusTarget::readAll(ReadDone done)
{
    QVector<ReadResult> results;
    bool gaveUp = false;
    for (const ReadRequest& request : readRequests()) {
        ReadResult r;
        r.request = request;
        r.data.fill(0, kReadBufferSize);
        if (!gaveUp) {
            const int rc = callRead(bus_, port_.port, port_.address, request, r.data);
            r.outcome = rc == 0 ? LinkOutcome::Answered : bus_.lastOutcome();
            // As the link thread does: after a timeout the rest of the batch
            // would only pile up more timeouts.
            gaveUp = r.outcome == LinkOutcome::Timeout || r.outcome == LinkOutcome::DeviceGone;
        }
        results.append(r);
    }
    done(results);
}

std::optional<Values> readNow(Modbus485& bus, const PortSettings& port, QString* error)
{
    std::optional<Values> values;
    BusTarget(bus, port).readAll([&](const QVector<ReadResult>& results) { values = valuesFromReads(results, error); });
    return values;
}

int Report::count(StepState state) const
{
    return int(std::count_if(steps.cbegin(), steps.cend(), [state](const StepReport& s) { return s.state == state; }));
}

QString stateText(StepState state)
{
    switch (state) {
    case StepState::Written: return QCoreApplication::translate("ParameterRestore", "已写入");
    case StepState::RefusedByInstrument: return QCoreApplication::translate("ParameterRestore", "仪表拒收");
    case StepState::Failed: return QCoreApplication::translate("ParameterRestore", "无应答，未确认");
    case StepState::NotWritten: return QCoreApplication::translate("ParameterRestore", "未写入");
    }
    return {};
}

QStringList reportLines(const Report& r)
{
    QStringList out;
    out << QCoreApplication::translate("ParameterRestore", "已写入 %1 项，仪表拒收 %2 项，未写入 %3 项。")
               .arg(r.count(StepState::Written))
               .arg(r.count(StepState::RefusedByInstrument))
               .arg(r.count(StepState::Failed) + r.count(StepState::NotWritten));
    if (r.cancelled)
        out << QCoreApplication::translate("ParameterRestore", "恢复已取消。");
    if (r.stopped)
        out << QCoreApplication::translate("ParameterRestore", "仪表无应答，恢复已中止。");
    for (const StepReport& s : r.steps)
        if (s.state != StepState::Written)
            out << QCoreApplication::translate("ParameterRestore", "  %1 %2 → %3：%4")
                       .arg(shownCaption(*s.step.row))
                       .arg(s.step.row->reg)
                       .arg(text(*s.step.row, s.step.value), stateText(s.state));
    for (const Refusal& f : r.refused)
        out << QCoreApplication::translate("ParameterRestore", "  %1 %2 → %3：未写入，%4")
                   .arg(shownCaption(*f.row))
                   .arg(f.row->reg)
                   .arg(text(*f.row, f.value), f.reason);
    const auto differences = [&out](const QVector<Difference>& rows) {
        for (const Difference& d : rows)
            out << QCoreApplication::translate("ParameterRestore", "  %1 %2：仪表 %3，文件 %4")
                       .arg(shownCaption(*d.row))
                       .arg(d.row->reg)
                       .arg(text(*d.row, d.instrument), text(*d.row, d.file));
    };
    if (!r.readBack) {
        out << QCoreApplication::translate("ParameterRestore", "读回失败：%1").arg(r.readBackError);
    } else if (r.stillDiffering.isEmpty() && r.unchosenDiffering.isEmpty()) {
        out << QCoreApplication::translate("ParameterRestore", "读回后与文件一致。");
    } else {
        if (r.stillDiffering.isEmpty()) {
            out << QCoreApplication::translate("ParameterRestore", "读回后选中的项与文件一致。");
        } else {
            out << QCoreApplication::translate("ParameterRestore", "读回后仍与文件不同：");
            differences(r.stillDiffering);
        }
        if (!r.unchosenDiffering.isEmpty()) {
            out << QCoreApplication::translate("ParameterRestore", "未选中、仍与文件不同：");
            differences(r.unchosenDiffering);
        }
    }
    return out;
}

RestoreRunner::RestoreRunner(Target& target, Plan plan, Values file, QSet<int> only, QObject* parent)
    : QObject(parent), target_(target), file_(std::move(file)), only_(std::move(only))
{
    report_.refused = std::move(plan.refused);
    for (const Step& step : plan.steps)
        report_.steps.append(StepReport{step});
}

void RestoreRunner::start()
{
    if (running_)
        return;
    running_ = true;
    next();
}

void RestoreRunner::cancel() { cancelRequested_ = true; }

void RestoreRunner::next()
{
    const int total = int(report_.steps.size());
    Q_EMIT progress(position_, total);
    if (position_ < total && !cancelRequested_ && !report_.stopped) {
        const Step& step = report_.steps[position_].step;
        qCInfo(lcParams) << "restore: register" << step.row->reg << "<-" << step.value
                         << (step.linked ? "(linked)" : "");
        target_.write(step.row->reg, step.value, [self = QPointer(this)](const WriteResult& r) {
            if (self)
                self->onWritten(r);
        });
        return;
    }
    report_.cancelled = cancelRequested_ && position_ < total;
    // Always through the event loop, so finished() never comes from inside start().
    QTimer::singleShot(report_.count(StepState::Written) > 0 ? settleMs_ : 0, this, [this] {
        target_.readAll([self = QPointer(this)](const QVector<ReadResult>& results) {
            if (self)
                self->onReadBack(results);
        });
    });
}

void RestoreRunner::onWritten(const WriteResult& result)
{
    StepReport& step = report_.steps[position_++];
    step.outcome = result.outcome;
    switch (result.outcome) {
    case LinkOutcome::Answered: step.state = StepState::Written; break;
    case LinkOutcome::Exception: step.state = StepState::RefusedByInstrument; break;
    default:
        // It may or may not have arrived; nothing after it is tried.
        step.state = StepState::Failed;
        report_.stopped = true;
        qCWarning(lcParams) << "restore stopped: register" << step.step.row->reg << outcomeName(result.outcome);
        break;
    }
    next();
}

void RestoreRunner::onReadBack(const QVector<ReadResult>& results)
{
    const std::optional<Values> now = valuesFromReads(results, &report_.readBackError);
    report_.readBack = now.has_value();
    if (now) {
        Values chosen = file_;
        if (!only_.isEmpty()) {
            QSet<int> written = only_;
            for (const StepReport& s : report_.steps)
                written.insert(s.step.row->reg);
            chosen.removeIf([&written](const auto& it) { return !written.contains(it.key()); });
        }
        report_.stillDiffering = diff(*now, chosen);
        Values unchosen = file_;
        unchosen.removeIf([&chosen](const auto& it) { return chosen.contains(it.key()); });
        report_.unchosenDiffering = diff(*now, unchosen);
    }
    running_ = false;
    Q_EMIT finished(report_);
}

} // namespace ParameterSet
