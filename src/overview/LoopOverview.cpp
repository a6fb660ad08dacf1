#include "LoopOverview.h"
#include "CommonTexts.h"
#include "Journal.h"
#include "LinkHealth.h"
#include "LiveImage.h"
#include "LoopFace.h"
#include "OverviewLog.h"
#include "SparkFeed.h"
#include "StateColours.h"
#include "StationClock.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

Q_LOGGING_CATEGORY(lcOverview, "px.overview")

namespace {
// Wider than tall, as screens are: 16 loops 4 × 4, 8 loops 4 × 2, 3 loops 2 × 2.
int columnsFor(int loops)
{
    if (loops <= 2)
        return qMax(1, loops);
    return std::min(4, int(std::ceil(std::sqrt(loops * 4.0 / 3.0))));
}
} // namespace

LoopOverview::LoopOverview(QVector<OverviewLoop> loops, Journal* journal, QWidget* parent)
    : QWidget(parent), journal_(journal)
{
    setObjectName(QStringLiteral("LoopOverview"));
    setWindowTitle(tr("回路总览 — 过程控制仪表 PX5800"));
    std::sort(loops.begin(), loops.end(), [](const auto& a, const auto& b) { return a.address < b.address; });
    columns_ = columnsFor(int(loops.size()));

    auto* grid = new QGridLayout;
    grid->setSpacing(6);
    for (int i = 0; i < loops.size(); ++i) {
        Entry e;
        e.loop = loops.at(i);
        e.face = new LoopFace(e.loop.address, e.loop.name, this);
        e.feed = new SparkFeed(e.loop.historyPath, this);
        grid->addWidget(e.face, i / columns_, i % columns_);
        connect(e.face, &LoopFace::chosen, this, &LoopOverview::loopChosen);
        connect(e.face, &LoopFace::stepRequested, this, [this, face = e.face](int dx, int dy) { step(face, dx, dy); });
        connect(e.feed, &SparkFeed::changed, e.face, [face = e.face, feed = e.feed] {
            const OleStamp now = StationClock::nowStamp();
            face->setSpark(feed->samples(), SparkFeed::secondsOf(now.date, now.time));
        });
        if (e.loop.health)
            connect(e.loop.health, &LinkHealth::stateChanged, this, &LoopOverview::refresh);
        entries_.append(e);
    }
    for (int c = 0; c < columns_; ++c)
        grid->setColumnStretch(c, 1);
    for (int r = 0; r <= (int(loops.size()) - 1) / columns_; ++r)
        grid->setRowStretch(r, 1);

    summary_ = new QPushButton(this);
    summary_->setObjectName(QStringLiteral("AlarmSummary"));
    summary_->setToolTip(tr("打开事件记录，显示未确认的报警"));
    summary_->setAutoDefault(false);
    summary_->setFocusPolicy(Qt::TabFocus);
    exitButton_ = new QPushButton(CommonText::exit(), this);
    exitButton_->setObjectName(QStringLiteral("OverviewExit"));
    exitButton_->setAutoDefault(false);
    exitButton_->setFocusPolicy(Qt::TabFocus);
    connect(summary_, &QPushButton::clicked, this, &LoopOverview::alarmSummaryClicked);
    connect(exitButton_, &QPushButton::clicked, this, [this] {
        exiting_ = true;
        Q_EMIT exitRequested();
    });

    auto* bottom = new QHBoxLayout;
    bottom->addWidget(summary_, 1);
    bottom->addWidget(exitButton_);
    auto* rows = new QVBoxLayout(this);
    rows->setContentsMargins(6, 6, 6, 6);
    rows->setSpacing(6);
    rows->addLayout(grid, 1);
    rows->addLayout(bottom);

    if (journal_)
        connect(journal_, &Journal::unacknowledgedAlarmsByLoopChanged, this, &LoopOverview::refresh);

    refreshTimer_ = new QTimer(this);
    refreshTimer_->setObjectName(QStringLiteral("OverviewRefresh"));
    refreshTimer_->setInterval(kRefreshIntervalMs);
    connect(refreshTimer_, &QTimer::timeout, this, &LoopOverview::refresh);
    sparkTimer_ = new QTimer(this);
    sparkTimer_->setObjectName(QStringLiteral("OverviewSparklines"));
    sparkTimer_->setInterval(kSparkIntervalMs);
    connect(sparkTimer_, &QTimer::timeout, this, &LoopOverview::pollSparklines);
    refresh();
    if (!entries_.isEmpty())
        setFocusProxy(entries_.first().face);
}

LoopOverview::~LoopOverview() = default;

LoopFace* LoopOverview::face(int address) const
{
    for (const Entry& e : entries_)
        if (e.loop.address == address)
            return e.face;
    return nullptr;
}

void LoopOverview::refresh()
{
    static const LiveImage kEmpty{};
    int alarm = 0, offline = 0, unacked = 0;
    for (const Entry& e : std::as_const(entries_)) {
        const int waiting = journal_ ? journal_->unacknowledgedAlarms(e.loop.address) : 0;
        const FaceState s = faceStateOf(e.loop.image ? *e.loop.image : kEmpty, e.loop.health, waiting);
        e.face->setState(s);
        // Old values of a silent loop are no alarm to count.
        if (s.link == FaceState::Link::Live && s.inAlarm())
            ++alarm;
        if (s.offline())
            ++offline;
        unacked += s.unacknowledged;
    }
    if (alarm == inAlarm_ && offline == offline_ && unacked == unacknowledged_)
        return;
    inAlarm_ = alarm;
    offline_ = offline;
    unacknowledged_ = unacked;
    showSummary();
}

void LoopOverview::showSummary()
{
    summary_->setText(
        tr("报警回路 %1    通讯中断 %2    未确认报警 %3").arg(inAlarm_).arg(offline_).arg(unacknowledged_));
    // The button's own colour role: light red while any loop is in alarm or waits for 确认.
    QPalette palette = this->palette();
    if (inAlarm_ > 0 || unacknowledged_ > 0)
        palette.setColor(QPalette::Button, StateColour::active());
    summary_->setPalette(palette);
}

void LoopOverview::pollSparklines()
{
    for (const Entry& e : std::as_const(entries_))
        e.feed->poll();
}

void LoopOverview::step(LoopFace* from, int dx, int dy)
{
    int at = -1;
    for (int i = 0; i < entries_.size(); ++i)
        if (entries_.at(i).face == from)
            at = i;
    if (at < 0)
        return;
    const int rowCount = (int(entries_.size()) + columns_ - 1) / columns_;
    const int column = std::clamp(at % columns_ + dx, 0, columns_ - 1);
    const int row = std::clamp(at / columns_ + dy, 0, rowCount - 1);
    // The last row may be short: stop at its last faceplate.
    const int to = std::min(row * columns_ + column, int(entries_.size()) - 1);
    entries_.at(to).face->setFocus(Qt::OtherFocusReason);
}

void LoopOverview::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    exiting_ = false;
    refresh();
    pollSparklines();
    refreshTimer_->start();
    sparkTimer_->start();
}

void LoopOverview::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    // Hidden behind a loop's main window: nothing to read or draw.
    refreshTimer_->stop();
    sparkTimer_->stop();
}

void LoopOverview::closeEvent(QCloseEvent* event)
{
    // As the main window: the close box does not end the station; "退出" does.
    if (!exiting_) {
        event->ignore();
        return;
    }
    event->accept();
}
