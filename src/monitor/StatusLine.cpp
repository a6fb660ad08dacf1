#include "StatusLine.h"
#include "BackgroundColour.h"
#include "StationClock.h"
#include "RefusedEntry.h"
#include "StateColours.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QTimer>

namespace {
QLabel* cell(const QString& name, QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    label->setFrameShape(QFrame::Panel);
    label->setFrameShadow(QFrame::Sunken);
    label->setMargin(2);
    return label;
}
} // namespace

QString linkAgeText(qint64 ms)
{
    if (ms < 0)
        return StatusLine::tr("尚无有效数据");
    const qint64 s = ms / 1000;
    if (s < 60)
        return StatusLine::tr("数据更新于 %1 秒前").arg(s);
    if (s < 3600)
        return StatusLine::tr("数据更新于 %1 分 %2 秒前").arg(s / 60).arg(s % 60);
    return StatusLine::tr("数据更新于 %1 小时 %2 分前").arg(s / 3600).arg((s % 3600) / 60);
}

StatusLine::StatusLine(const LinkHealth& health, QWidget* parent) : QWidget(parent), health_(health)
{
    setObjectName(QStringLiteral("StatusLine"));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    link_ = cell(QStringLiteral("LinkState"), this);
    link_->setMinimumWidth(120);
    link_->setAlignment(Qt::AlignCenter);
    age_ = cell(QStringLiteral("LinkAge"), this);
    device_ = cell(QStringLiteral("LinkDevice"), this);
    recorder_ = cell(QStringLiteral("RecorderState"), this);
    layout->addWidget(link_);
    layout->addWidget(age_, 1);
    layout->addWidget(device_);
    response_ = cell(QStringLiteral("LoopResponse"), this);
    response_->hide();
    layout->addWidget(response_);
    layout->addWidget(recorder_, 1);
    publisher_ = cell(QStringLiteral("MqttState"), this);
    publisher_->hide();
    layout->addWidget(publisher_);
    journal_ = cell(QStringLiteral("JournalState"), this);
    alarms_ = cell(QStringLiteral("UnacknowledgedAlarms"), this);
    setBackgroundColour(journal_, StateColour::active());
    setBackgroundColour(alarms_, StateColour::active());
    journal_->hide();
    alarms_->hide();
    layout->addWidget(journal_);
    layout->addWidget(alarms_);
    // The main window's refused entries say why here too (see RefusedEntry).
    auto* refusal = RefusedEntry::makeLine(this);
    refusal->setFrameShape(QFrame::Panel);
    refusal->setFrameShadow(QFrame::Sunken);
    refusal->setMargin(2);
    layout->addWidget(refusal);
    timer_ = new QTimer(this);
    // The age is shown in whole seconds; state changes come at once.
    timer_->setInterval(1000);
    connect(timer_, &QTimer::timeout, this, &StatusLine::refresh);
    connect(&health_, &LinkHealth::stateChanged, this, &StatusLine::refresh);
    timer_->start();
    setRecorderState(tr("记录器未启动"), false);
    refresh();
}

void StatusLine::setDevice(const QString& device) { device_->setText(device); }

void StatusLine::refresh()
{
    const LinkHealth::State state = health_.state();
    link_->setText(health_.text());
    // One silent block is trouble too, though the rest is answering.
    const bool bad = state == LinkHealth::State::NoAnswer || state == LinkHealth::State::CannotOpen
                     || !health_.staleBlocksText().isEmpty();
    setBackgroundColour(link_, bad ? StateColour::active() : StateColour::quiet());
    age_->setText(state == LinkHealth::State::Closed && health_.ageOfLastGoodMs() < 0
                      ? QString()
                      : linkAgeText(health_.ageOfLastGoodMs()));
    const QString tip =
        health_.countersText()
        + (health_.lastGoodCycle().isValid() ? tr("\n最后一次完整读取：%1").arg(TimeText::text(health_.lastGoodCycle()))
                                             : QString());
    link_->setToolTip(tip);
    age_->setToolTip(tip);
}

void StatusLine::setRecorderState(const QString& text, bool healthy)
{
    recorder_->setText(text);
    setBackgroundColour(recorder_, healthy ? StateColour::quiet() : StateColour::active());
}

void StatusLine::setPublisherState(const QString& text, bool healthy, const QString& detail)
{
    publisher_->setText(text);
    publisher_->setToolTip(detail);
    setBackgroundColour(publisher_, healthy ? StateColour::quiet() : StateColour::active());
    publisher_->show();
}

void StatusLine::setJournalState(const QString& text, bool healthy)
{
    journal_->setText(text);
    journal_->setVisible(!healthy);
}

void StatusLine::setUnacknowledgedAlarms(int count)
{
    alarms_->setText(tr("未确认报警 %1 条").arg(count));
    alarms_->setVisible(count > 0);
}

void StatusLine::setLineCounters(const LineLoopCounters& c)
{
    const auto ms = [](int v) { return v < 0 ? QStringLiteral("-") : QString::number(v); };
    response_->setText(tr("响应 %1 / %2 ms").arg(ms(c.responseP50Ms), ms(c.responseP95Ms)));
    response_->setToolTip(tr("线路上本仪表：应答 %1　超时 %2　校验错 %3　异常应答 %4\n响应时间 p50 %5 ms，p95 %6 ms")
                              .arg(c.answered)
                              .arg(c.timeouts)
                              .arg(c.crcErrors)
                              .arg(c.exceptions)
                              .arg(ms(c.responseP50Ms), ms(c.responseP95Ms)));
    response_->show();
}
