#include "StepTest.h"
#include "TuningLog.h"

#include <QCoreApplication>
#include <cmath>

namespace {
// Output read back in tenths: within half a tenth is the value written.
constexpr double kOutputTolerance = 0.05;
} // namespace

QString StepTest::start(const Settings& settings, const Present& present, double now)
{
    if (running())
        return QCoreApplication::translate("StepTest", "阶跃测试正在进行");
    if (restorePending())
        return QCoreApplication::translate("StepTest", "上次测试的恢复尚未完成");
    if (!present.manualPermitted)
        return QCoreApplication::translate("StepTest", "仪表不允许手动(线圈3 = 0), 无法做阶跃测试");
    if (!(std::abs(settings.stepPercent) >= 0.1))
        return QCoreApplication::translate("StepTest", "阶跃幅度不能为0");
    const double stepped = present.outputPercent + settings.stepPercent;
    if (stepped < 0.0 || stepped > 100.0)
        return QCoreApplication::translate("StepTest", "阶跃后的输出超出0~100%");
    if (!(settings.bandLow < settings.bandHigh) || present.pv < settings.bandLow || present.pv > settings.bandHigh)
        return QCoreApplication::translate("StepTest", "PV不在允许范围内");
    if (!(settings.durationS > 0.0) || settings.baselineS < 0.0)
        return QCoreApplication::translate("StepTest", "测试时间无效");

    settings_ = settings;
    before_ = present;
    abort_ = Abort::None;
    samples_.clear();
    startTime_ = lastTime_ = now;
    // The baseline runs from the first read that shows manual.
    manualSeen_ = !present.automatic;
    stepSent_ = false;
    stepTime_ = now + settings.baselineS;
    lastOp_ = present.outputPercent;
    state_ = State::Baseline;
    const quint64 generation = ++generation_;
    qCInfo(lcTuning) << "step test: hold" << present.outputPercent << "% then step" << settings.stepPercent << "%";
    auto abortUnanswered = [this, generation](bool answered) {
        if (!answered && generation == generation_)
            abort(Abort::WriteFailed);
    };
    // Manual first (the instrument takes over its present output), then the
    // held output written explicitly so the baseline does not depend on it.
    if (present.automatic)
        writer_.write({WriteFn::Rst_0X_Bit1, kAutomaticCoil, 0}, QStringLiteral("阶跃测试: 切换到手动"),
                      abortUnanswered);
    if (running())
        writeOutput(present.outputPercent, QStringLiteral("阶跃测试: 保持输出"), abortUnanswered);
    notify();
    return {};
}

void StepTest::sample(double t, double pv, double op, bool automatic)
{
    lastTime_ = t;
    lastOp_ = op;
    if (restorePending())
        advanceRestore(t, op);
    if (!running())
        return;
    if (automatic) {
        // Never seen in manual within the wait, or back in automatic since:
        // what would be recorded is the closed loop, not the process.
        if (manualSeen_ || t - startTime_ > kManualWaitS)
            abort(Abort::NotManual);
        return;
    }
    if (!manualSeen_) {
        manualSeen_ = true;
        stepTime_ = t + settings_.baselineS;
    }
    samples_.push_back({t, pv, op});
    if (pv < settings_.bandLow || pv > settings_.bandHigh) {
        abort(Abort::OutOfBand);
        return;
    }
    if (state_ == State::Baseline && t >= stepTime_ && !stepSent_) {
        stepSent_ = true;
        stepTime_ = t;
        state_ = State::Stepped;
        const quint64 generation = generation_;
        writeOutput(before_.outputPercent + settings_.stepPercent, QStringLiteral("阶跃测试: 输出阶跃"),
                    [this, generation](bool answered) {
                        if (!answered && generation == generation_)
                            abort(Abort::WriteFailed);
                    });
        notify();
    } else if (state_ == State::Stepped && t >= stepTime_ + settings_.durationS) {
        state_ = State::Finished;
        qCInfo(lcTuning) << "step test finished with" << samples_.size() << "samples";
        beginRestore(t);
    }
}

void StepTest::abort(Abort reason)
{
    if (!running())
        return;
    abort_ = reason;
    state_ = State::Aborted;
    qCWarning(lcTuning) << "step test aborted:" << abortText(reason);
    beginRestore(lastTime_);
}

// Output before mode: back in automatic the instrument starts bumplessly
// from the output it has, which is then the one the test found.
void StepTest::beginRestore(double now)
{
    restore_ = Restore::Output;
    restoreFailed_ = false;
    settleSince_ = now;
    sendRestore();
    notify();
}

void StepTest::sendRestore()
{
    restoreInFlight_ = true;
    const quint64 generation = generation_;
    auto answered = [this, generation](bool ok) {
        if (generation != generation_)
            return;
        restoreInFlight_ = false;
        if (!ok) {
            restoreFailed_ = true;
            qCWarning(lcTuning) << "step test restore unanswered, sent again when the line answers";
        } else if (restore_ == Restore::Output) {
            restore_ = Restore::Settling;
            settleSince_ = lastTime_;
            advanceRestore(lastTime_, lastOp_);
        } else {
            restore_ = Restore::Done;
            qCInfo(lcTuning) << "step test restore done";
        }
        notify();
    };
    if (restore_ == Restore::Output)
        writeOutput(before_.outputPercent, QStringLiteral("阶跃测试结束: 恢复输出"), answered);
    else
        writer_.write({WriteFn::Set_0X_Bit1, kAutomaticCoil, 0}, QStringLiteral("阶跃测试结束: 恢复自动"), answered);
}

void StepTest::advanceRestore(double now, std::optional<double> op)
{
    if (restore_ == Restore::Settling) {
        const bool shown = op && std::abs(*op - before_.outputPercent) < kOutputTolerance;
        if (!shown && now - settleSince_ < kOutputSettleS)
            return;
        if (!before_.automatic) {
            restore_ = Restore::Done;
            notify();
            return;
        }
        restore_ = Restore::Mode;
        restoreFailed_ = false;
        sendRestore();
        return;
    }
    // A read came back after the write went unanswered: the line answers again.
    if (restoreFailed_ && !restoreInFlight_) {
        restoreFailed_ = false;
        sendRestore();
    }
}

void StepTest::sendRestoreAtOnce()
{
    if (!restorePending())
        return;
    ++generation_; // answers, if any came, no longer move anything
    if (restore_ == Restore::Output && !restoreInFlight_)
        writeOutput(before_.outputPercent, QStringLiteral("阶跃测试结束: 恢复输出"), {});
    if (before_.automatic && !(restore_ == Restore::Mode && restoreInFlight_))
        writer_.write({WriteFn::Set_0X_Bit1, kAutomaticCoil, 0}, QStringLiteral("阶跃测试结束: 恢复自动"), {});
    restore_ = Restore::Done;
    restoreInFlight_ = false;
}

void StepTest::writeOutput(double percent, const QString& why, InstrumentWriter::Done done)
{
    writer_.write({WriteFn::Set_4X_D1, kManualOutputRegister, qint32(std::lround(percent * 10.0))}, why,
                  std::move(done));
}

void StepTest::notify()
{
    if (observer_)
        observer_();
}

QString StepTest::abortText(Abort reason)
{
    switch (reason) {
    case Abort::None: return {};
    case Abort::Stopped: return QCoreApplication::translate("StepTest", "操作员停止");
    case Abort::OutOfBand: return QCoreApplication::translate("StepTest", "PV超出允许范围");
    case Abort::LinkLost: return QCoreApplication::translate("StepTest", "通讯中断");
    case Abort::NotManual: return QCoreApplication::translate("StepTest", "仪表未处于手动, 数据不是开环响应");
    case Abort::WriteFailed: return QCoreApplication::translate("StepTest", "仪表未应答写入");
    }
    return {};
}
