#include "DisplayTick.h"
#include "BackgroundColour.h"
#include "StationClock.h"
#include "LinkHealth.h"
#include "LiveImage.h"
#include "LiveTrend.h"
#include "MonitorLog.h"
#include "NumberText.h"
#include "PollingCycle.h"
#include "PanelWidgets.h"
#include "SampleFlags.h"
#include "StateColours.h"
#include "StatusLine.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

using namespace MonitorTables;

namespace {
template <typename W> W* find(QWidget* root, const QString& name)
{
    W* w = root->findChild<W*>(name);
    if (!w)
        qCWarning(lcMonitor) << "display tick: no" << name << "on the window";
    return w;
}

QColor colourOf(StateColourChoice choice)
{
    return choice == StateColourChoice::Active ? StateColour::active() : StateColour::quiet();
}

bool isStale(LinkHealth::State state)
{
    return state == LinkHealth::State::NoAnswer || state == LinkHealth::State::CannotOpen;
}
} // namespace

DisplayTick::DisplayTick(const LiveImage& image, SampleFlags& flags, const LinkHealth& health, QWidget* root,
                         QObject* parent)
    : QObject(parent), image_(image), flags_(flags), health_(health)
{
    setObjectName(QStringLiteral("DisplayTick"));
    for (const ValueRow& row : valueRows()) {
        if (QLabel* label = find<QLabel>(root, QString::fromLatin1(row.label)))
            values_.append({&row, label, row.index <= 2, row.block});
    }
    for (const AlarmTypeRow& row : alarmTypeRows()) {
        if (QLabel* label = find<QLabel>(root, QString::fromLatin1(row.label)))
            types_.append({&row, label, MonitorBlock::Types});
    }
    for (const StateRow& row : stateRows()) {
        if (QLabel* label = find<QLabel>(root, QString::fromLatin1(row.label)))
            states_.append({&row, label, label->toolTip(),
                            row.table == BitTable::Input ? MonitorBlock::Inputs : MonitorBlock::Coils});
    }
    manualBox_ = find<QLineEdit>(root, QStringLiteral("T_3RW_1"));
    manualButton_ = find<QPushButton>(root, QStringLiteral("Command25"));

    timer_ = new QTimer(this);
    timer_->setObjectName(QStringLiteral("Timer1"));
    timer_->setInterval(kIntervalMs);
    connect(timer_, &QTimer::timeout, this, &DisplayTick::tick);
}

void DisplayTick::start() { timer_->start(); }
void DisplayTick::stop() { timer_->stop(); }

void DisplayTick::tick()
{
    stale_ = isStale(health_.state());
    const bool rulerOn = trend_ && trend_->rulerOn();

    // The ruler recolours the clock and the PV/OP/SV labels while it is on;
    // otherwise they return to their own colours here.
    if (!rulerOn) {
        if (trend_)
            trend_->restoreReadoutColours();
        for (const ValueTarget& v : std::as_const(values_))
            if (v.readout)
                setBackgroundColour(v.label, staleBlock(v.block) ? StateColour::stale() : StateColour::value());
    }
    if (trend_)
        trend_->updateYAxisLabels();

    if (flags_.newSample) {
        if (trend_)
            trend_->appendLiveSample(image_.Values[0], image_.Values[1], image_.Values[2]);
        flags_.newSample = false;
    }

    showValues();
    showAlarmTypes();
    showStates();
    showFreshness();
}

void DisplayTick::showValues()
{
    for (const ValueTarget& v : std::as_const(values_)) {
        const float value = image_.Values[std::size_t(v.row->index)];
        v.label->setText(v.row->divisor == 1 ? singleText(value) : doubleText(double(value) / v.row->divisor));
    }
}

void DisplayTick::showAlarmTypes()
{
    for (const TypeTarget& t : std::as_const(types_)) {
        // Types the instrument does not define leave the label as it was.
        if (const auto shown = alarmTypeText(t.row->alarm, image_.HoldingRegs[std::size_t(typeIndex(*t.row))])) {
            t.label->setText(shown->text);
            setBackgroundColour(t.label, shown->active ? StateColour::active() : StateColour::quiet());
        }
    }
}

void DisplayTick::showStates()
{
    for (const StateTarget& s : std::as_const(states_)) {
        const StateRow& row = *s.row;
        const bool on = stateIsOn(row, image_);
        const StateShown& shown = on ? row.on : row.off;
        if (shown.text)
            s.label->setText(MonitorTables::shown(shown.text));
        if (shown.colour != StateColourChoice::Unchanged)
            setBackgroundColour(s.label, colourOf(shown.colour));
        switch (row.effect) {
        case StateEffect::None: break;
        case StateEffect::ShowWhenOn:
            if (on)
                s.label->show();
            else
                s.label->hide();
            break;
        case StateEffect::ManualEntry:
            // Off is manual mode: the manual output can be sent.
            for (QWidget* w : {static_cast<QWidget*>(manualBox_), static_cast<QWidget*>(manualButton_)}) {
                if (!w)
                    continue;
                if (on)
                    PanelWidgets::hideWithoutPassingFocus(w);
                else
                    w->show();
            }
            break;
        }
    }
}

bool DisplayTick::staleBlock(int block) const { return stale_ || health_.blockStale(block); }

QString DisplayTick::staleTip(int block) const
{
    if (!staleBlock(block))
        return QString();
    const QString why = stale_ ? LinkHealth::stateText(health_.state()) : PollingCycle::blockFailureText(block);
    if (!stale_)
        return tr("%1：显示的是最后读到的值").arg(why);
    QString tip = tr("%1：显示的是最后读到的值\n%2").arg(why, linkAgeText(health_.ageOfLastGoodMs()));
    const QDateTime last = health_.lastGoodCycle();
    if (last.isValid())
        tip += tr("（%1）").arg(TimeText::text(last));
    return tip;
}

void DisplayTick::showFreshness()
{
    auto textColour = [this](int block) {
        return staleBlock(block) ? PanelWidgets::staleText() : PanelWidgets::normalText();
    };
    for (const ValueTarget& v : std::as_const(values_)) {
        setTextColour(v.label, textColour(v.block));
        if (!v.readout)
            setBackgroundColour(v.label, staleBlock(v.block) ? StateColour::stale() : PanelWidgets::readOnlyValue());
        v.label->setToolTip(staleTip(v.block));
    }
    // State labels keep their colours, which carry the state; only the text
    // greys out.
    for (const TypeTarget& t : std::as_const(types_)) {
        setTextColour(t.label, textColour(t.block));
        t.label->setToolTip(staleTip(t.block));
    }
    for (const StateTarget& s : std::as_const(states_)) {
        setTextColour(s.label, textColour(s.block));
        s.label->setToolTip(staleBlock(s.block) ? staleTip(s.block) : s.normalTip);
    }
}

void DisplayTick::showReadout(float pv, float op, float sv)
{
    const float readout[3] = {pv, op, sv};
    for (const ValueTarget& v : std::as_const(values_)) {
        if (!v.readout)
            continue;
        v.label->setText(singleText(readout[v.row->index]));
        setBackgroundColour(v.label, StateColour::readout());
        setTextColour(v.label, PanelWidgets::normalText());
    }
}
