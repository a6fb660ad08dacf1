#include "StepTest.h"
#include "TuningLog.h"

#include <QCoreApplication>
#include <cmath>

QString StepTest::start(const Settings& settings, const Present& present, double now)
{
    if (running())
        return QCoreApplication::translate("StepTest", "阶跃测试正在进行");
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
    startTime_ = now;
    stepTime_ = now + settings.baselineS;
    state_ = State::Baseline;
    qCInfo(lcTuning) << "step test: hold" << present.outputPercent << "% then step" << settings.stepPercent << "%";
    // Manual first (the instrument takes over its present output), then the
    // held output written explicitly so the baseline does not depend on it.
    if (present.automatic)
        writer_.write({WriteFn::Rst_0X_Bit1, kAutomaticCoil, 0}, QStringLiteral("阶跃测试: 切换到手动"));
    writeOutput(present.outputPercent, QStringLiteral("阶跃测试: 保持输出"));
    return {};
}

void StepTest::sample(double t, double pv, double op)
{
    if (!running())
        return;
    samples_.push_back({t, pv, op});
    if (pv < settings_.bandLow || pv > settings_.bandHigh) {
        abort(Abort::OutOfBand);
        return;
    }
    if (state_ == State::Baseline && t >= stepTime_) {
        stepTime_ = t;
        state_ = State::Stepped;
        writeOutput(before_.outputPercent + settings_.stepPercent, QStringLiteral("阶跃测试: 输出阶跃"));
    } else if (state_ == State::Stepped && t >= stepTime_ + settings_.durationS) {
        restore();
        state_ = State::Finished;
        qCInfo(lcTuning) << "step test finished with" << samples_.size() << "samples";
    }
}

void StepTest::abort(Abort reason)
{
    if (!running())
        return;
    abort_ = reason;
    restore();
    state_ = State::Aborted;
    qCWarning(lcTuning) << "step test aborted:" << abortText(reason);
}

void StepTest::restore()
{
    // Output before mode: back in automatic the instrument starts bumplessly
    // from the output it has, which is then the one the test found.
    writeOutput(before_.outputPercent, QStringLiteral("阶跃测试结束: 恢复输出"));
    if (before_.automatic)
        writer_.write({WriteFn::Set_0X_Bit1, kAutomaticCoil, 0}, QStringLiteral("阶跃测试结束: 恢复自动"));
}

void StepTest::writeOutput(double percent, const QString& why)
{
    writer_.write({WriteFn::Set_4X_D1, kManualOutputRegister, qint32(std::lround(percent * 10.0))}, why);
}

QString StepTest::abortText(Abort reason)
{
    switch (reason) {
    case Abort::None:
        return {};
    case Abort::Stopped:
        return QCoreApplication::translate("StepTest", "操作员停止");
    case Abort::OutOfBand:
        return QCoreApplication::translate("StepTest", "PV超出允许范围");
    case Abort::LinkLost:
        return QCoreApplication::translate("StepTest", "通讯中断");
    }
    return {};
}
