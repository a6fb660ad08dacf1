#include "LinkHealth.h"
#include "PollingCycle.h"

LinkHealth::LinkHealth(QObject* parent) : QObject(parent)
{
    // Armed for the moment the state would next change by itself, instead
    // of looking a few times a second.
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &LinkHealth::reevaluate);
}

qint64 LinkHealth::ageOfLastGoodMs() const { return sinceGood_.isValid() ? sinceGood_.elapsed() : -1; }

QString LinkHealth::stateText(State state)
{
    switch (state) {
    case State::Closed: return tr("端口未打开");
    case State::Waiting: return tr("正在连接仪表");
    case State::Answering: return tr("通讯正常");
    case State::NoAnswer: return tr("通讯中断");
    case State::CannotOpen: return tr("端口无法打开");
    }
    return QString();
}

QString LinkHealth::text() const
{
    if (portInUse())
        return tr("端口正被其他程序占用");
    if (state_ == State::Answering) {
        const QString partial = staleBlocksText();
        if (!partial.isEmpty())
            return partial;
    }
    return stateText(state_);
}

bool LinkHealth::blockStale(int block) const
{
    if (state_ != State::Answering)
        return state_ == State::NoAnswer || state_ == State::CannotOpen;
    const auto it = blockGood_.constFind(block);
    if (it == blockGood_.cend() || !it->isValid() || it->elapsed() > sinceOpen_.elapsed())
        return sinceOpen_.elapsed() > noAnswerMs_; // never answered since the port opened
    return it->elapsed() > noAnswerMs_;
}

QString LinkHealth::staleBlocksText() const
{
    if (state_ != State::Answering)
        return QString();
    QStringList texts;
    for (int k = 0; k < PollingCycle::blockCount(); ++k)
        if (blockStale(k))
            texts << PollingCycle::blockFailureText(k);
    return texts.join(QStringLiteral("，"));
}

QString LinkHealth::countersText() const
{
    return tr("应答 %1　超时 %2　校验错 %3　异常应答 %4　其他 %5　跳过周期 %6")
               .arg(count(LinkOutcome::Answered))
               .arg(count(LinkOutcome::Timeout))
               .arg(count(LinkOutcome::CrcError))
               .arg(count(LinkOutcome::Exception))
               .arg(count(LinkOutcome::Other) + count(LinkOutcome::DeviceGone) + count(LinkOutcome::NotOpen))
               .arg(skipped_)
           + (lastException_ ? tr("\n最近一次异常应答：%1").arg(exceptionText(lastException_)) : QString());
}

void LinkHealth::onExchange(LinkOutcome outcome) { ++counts_[int(outcome)]; }

void LinkHealth::onException(int code) { lastException_ = code; }

void LinkHealth::onCycle(bool allAnswered)
{
    if (allAnswered) {
        for (int k = 0; k < PollingCycle::blockCount(); ++k)
            blockGood_[k].start();
        sinceGood_.start();
        lastGoodWall_ = QDateTime::currentDateTime();
    }
    reevaluate();
}

void LinkHealth::onBlocks(quint32 answeredMask)
{
    if (!answeredMask)
        return;
    for (int k = 0; k < PollingCycle::blockCount(); ++k)
        if (answeredMask & (1u << k))
            blockGood_[k].start();
    sinceGood_.start();
    reevaluate();
}

void LinkHealth::onPortState(PortState state)
{
    const bool wasInUse = portInUse();
    const State before = state_;
    portState_ = state;
    reevaluate();
    // Same state, different reason: say so once (reevaluate() already did when the state moved).
    if (state_ == before && portInUse() != wasInUse)
        Q_EMIT stateChanged(state_);
}

void LinkHealth::onPortOpened()
{
    open_ = true;
    sinceOpen_.start();
    reevaluate();
}

void LinkHealth::onPortClosed()
{
    open_ = false;
    reevaluate();
}

void LinkHealth::reevaluate()
{
    timer_.stop();
    if (!open_) {
        setState(State::Closed);
        return;
    }
    if (portState_ == PortState::CannotOpen || portState_ == PortState::InUse) {
        setState(State::CannotOpen);
        return;
    }
    const qint64 reference =
        sinceGood_.isValid() && sinceGood_.elapsed() <= sinceOpen_.elapsed() ? sinceGood_.elapsed() : -1;
    if (reference >= 0 && reference <= noAnswerMs_) {
        setState(State::Answering);
        timer_.start(int(noAnswerMs_ - reference) + 1);
    } else if (sinceOpen_.elapsed() <= noAnswerMs_) {
        setState(State::Waiting);
        timer_.start(int(noAnswerMs_ - sinceOpen_.elapsed()) + 1);
    } else {
        setState(State::NoAnswer);
    }
}

void LinkHealth::setState(State state)
{
    if (state == state_)
        return;
    state_ = state;
    Q_EMIT stateChanged(state);
}
