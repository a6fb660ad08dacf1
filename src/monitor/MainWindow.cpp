#include "MainWindow.h"
#include "CommonTexts.h"
#include "AlarmSettingsPanel.h"
#include "DisplayTick.h"
#include "HistoryReader.h"
#include "HistoryStore.h"
#include "TrendHistory.h"
#include "LiveTrend.h"
#include "ModePanel.h"
#include "MonitorLog.h"
#include "OperatorCommands.h"
#include "PopupKeys.h"
#include "PortPanel.h"
#include "StatusLine.h"
#include "TrendGeometry.h"
#include "TrendStyle.h"
#include "TrendView.h"
#include "ValuePanel.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QShortcut>
#include <QStatusBar>
#include <QVBoxLayout>

Q_LOGGING_CATEGORY(lcMonitor, "px.monitor")

namespace {
QPushButton* button(const QString& name, const QString& text, QWidget* parent)
{
    auto* b = new QPushButton(text, parent);
    b->setObjectName(name);
    return b;
}

// The real-time trend as the display tick sees it.
class TrendViewFeed final : public LiveTrend {
public:
    explicit TrendViewFeed(TrendView& view) : view_(view) {}
    bool rulerOn() const override { return view_.rulerOn(); }
    void restoreReadoutColours() override { view_.restoreReadoutColours(); }
    void updateYAxisLabels() override { view_.updateYAxisLabels(); }
    void appendLiveSample(float pv, float op, float sv) override { view_.appendLiveSample(pv, op, sv); }

private:
    TrendView& view_;
};
} // namespace

MainWindow::MainWindow(Station& station, QWidget* parent) : QMainWindow(parent), station_(station)
{
    setObjectName(QStringLiteral("ssqx"));
    setWindowTitle(CommonText::stationTitle());
    setAttribute(Qt::WA_DeleteOnClose, false);

    // The window's own database connection, which the trend reads its pages
    // through. Without it the window still comes up; the trend lies flat.
    // A server is opened and read off this thread: the window never waits
    // on the network.
    if (HistoryReader::wanted(station_.databasePath)) {
        reader_ = std::make_unique<HistoryReader>(QStringLiteral("ssqx"));
        reader_->open(station_.databasePath);
    } else {
        store_ = std::make_unique<HistoryStore>(QStringLiteral("ssqx"));
        QString error;
        // The trend's live page reads the newest sample id itself when it loads.
        if (!station_.databasePath.isEmpty() && !store_->open(station_.databasePath, &error))
            qCWarning(lcMonitor) << "main window: history database unavailable:" << error;
    }

    auto* central = new QWidget(this);
    auto* rows = new QVBoxLayout(central);
    rows->setContentsMargins(6, 6, 6, 4);
    rows->setSpacing(6);

    // Left: the process values over the port settings.
    valuePanel_ = new ValuePanel(central);
    portPanel_ = new PortPanel(station_.ports, central);
    auto* left = new QVBoxLayout;
    left->setSpacing(6);
    left->addWidget(valuePanel_);
    left->addWidget(portPanel_);
    left->addStretch(1);

    // Right: the alarm settings over the trend, which takes the extra space.
    alarmPanel_ = new AlarmSettingsPanel(central);
    trendView_ =
        reader_ ? new TrendView(TrendStyle::realTime(), TrendHistory::through(reader_.get()), station_.scale, central)
                : new TrendView(TrendStyle::realTime(), store_.get(), station_.scale, central);
    auto* right = new QVBoxLayout;
    right->setSpacing(6);
    right->addWidget(alarmPanel_);
    right->addWidget(trendView_, 1);

    auto* upper = new QHBoxLayout;
    upper->setSpacing(6);
    upper->addLayout(left);
    upper->addLayout(right, 1);
    rows->addLayout(upper, 1);

    // Below the trend: modes and alarm states, and the navigation at the
    // bottom right.
    modePanel_ = new ModePanel(central);
    auto* lower = new QHBoxLayout;
    lower->setSpacing(6);
    lower->addWidget(modePanel_);
    lower->addStretch(1);
    lower->addWidget(buildNavigation());
    rows->addLayout(lower);
    setCentralWidget(central);

    statusLine_ = new StatusLine(station_.health, this);
    statusBar()->addWidget(statusLine_, 1);
    statusBar()->setSizeGripEnabled(true);

    commands_ = new OperatorCommands(station_.link, station_.image, central, this);
    commands_->setAudit(station_.audit);
    displayTick_ = new DisplayTick(station_.image, station_.flags, station_.health, central, this);
    liveTrend_ = std::make_unique<TrendViewFeed>(*trendView_);
    displayTick_->setTrend(liveTrend_.get());
    connect(trendView_, &TrendView::displayTickStopRequested, displayTick_, &DisplayTick::stop);
    connect(trendView_, &TrendView::displayTickRestartRequested, displayTick_, &DisplayTick::start);
    connect(trendView_, &TrendView::rulerReadout, displayTick_, &DisplayTick::showReadout);
    installKeys();
    // The window opens with the focus on "打开", not in an entry box, so that
    // no send button shows before the operator asks for it.
    portPanel_->openButton()->setFocus(Qt::OtherFocusReason);

    connect(portPanel_->openButton(), &QPushButton::clicked, this, &MainWindow::openPort);
    connect(portPanel_->closeButton(), &QPushButton::clicked, this, &MainWindow::closePort);

    station_.flags.trendLinkEnabled = true;
    keepOpen_ = true;
    trendView_->load();
    // The chart's logical size, kept where the window has always shown it;
    // the chart now stretches with the window, so the labels stay out of sight.
    for (const auto& [name, size] :
         {std::pair{"Label19", TrendGeometry::kChartWidth}, std::pair{"Label20", TrendGeometry::kChartHeight}}) {
        auto* label = new QLabel(QString::number(size), central);
        label->setObjectName(QString::fromLatin1(name));
        label->hide();
    }
    displayTick_->start();
}

MainWindow::~MainWindow() = default;

void MainWindow::installKeys()
{
    // The trend's function keys work wherever the focus is in the window;
    // Esc is the exit button's key.
    for (const int key : {Qt::Key_F1, Qt::Key_F2, Qt::Key_F3, Qt::Key_F4, Qt::Key_F5, Qt::Key_F6, Qt::Key_F7}) {
        auto* shortcut = new QShortcut(QKeySequence(key), this);
        shortcut->setObjectName(QStringLiteral("key_F%1").arg(key - Qt::Key_F1 + 1));
        connect(shortcut, &QShortcut::activated, trendView_, [this, key] { trendView_->handleKey(key); });
    }
    PopupKeys::escapeClicks(this, exitButton_)->setObjectName(QStringLiteral("key_Esc"));
}

QWidget* MainWindow::buildNavigation()
{
    auto* box = new QGroupBox(tr("画面切换"), this);
    box->setObjectName(QStringLiteral("NavFrame"));
    auto* layout = new QGridLayout(box);
    configButton_ = button(QStringLiteral("Command21"), tr("参数设置"), box);
    segmentsButton_ = button(QStringLiteral("Command22"), tr("输出分组"), box);
    calibrateButton_ = button(QStringLiteral("Command23"), tr("参数校准"), box);
    correctButton_ = button(QStringLiteral("Command24"), tr("输出校正"), box);
    exitButton_ = button(QStringLiteral("Command1"), CommonText::exit(), box);
    historyButton_ = button(QStringLiteral("Command29"), tr("历史曲线"), box);
    journalButton_ = button(QStringLiteral("Command30"), tr("事件记录"), box);
    tuningButton_ = button(QStringLiteral("TuningButton"), tr("PID整定"), box);
    layout->addWidget(configButton_, 0, 0);
    layout->addWidget(segmentsButton_, 0, 1);
    layout->addWidget(exitButton_, 0, 2);
    layout->addWidget(calibrateButton_, 1, 0);
    layout->addWidget(correctButton_, 1, 1);
    layout->addWidget(journalButton_, 1, 2);
    // In the hidden calibration key's place; enabled with the port closed,
    // as a recorded period needs no line.
    layout->addWidget(tuningButton_, 1, 0);
    overviewButton_ = button(QStringLiteral("OverviewButton"), tr("回路总览"), box);
    layout->addWidget(overviewButton_, 2, 0);
    overviewButton_->hide();
    // "历史曲线" sits with the trend's own function keys.
    trendView_->addFunctionButton(historyButton_);
    configButton_->setEnabled(station_.link.isOpen());
    calibrateButton_->setEnabled(station_.link.isOpen());
    calibrateButton_->hide();
    correctButton_->hide();

    connect(configButton_, &QPushButton::clicked, this, [this] {
        hide();
        Q_EMIT configRequested();
    });
    connect(segmentsButton_, &QPushButton::clicked, this, [this] {
        hide();
        Q_EMIT segmentsRequested();
    });
    connect(tuningButton_, &QPushButton::clicked, this, &MainWindow::tuningRequested);
    connect(journalButton_, &QPushButton::clicked, this, [this] {
        hide();
        Q_EMIT journalRequested();
    });
    connect(historyButton_, &QPushButton::clicked, this, &MainWindow::leaveForHistory);
    connect(overviewButton_, &QPushButton::clicked, this, &MainWindow::overviewRequested);
    connect(exitButton_, &QPushButton::clicked, this, &MainWindow::exitStation);
    return box;
}

void MainWindow::setLoop(int address, const QString& title)
{
    setWindowTitle(CommonText::stationTitle() + QStringLiteral(" — ") + title);
    portPanel_->lockAddress(address);
}

void MainWindow::showLineCounters(const LineLoopCounters& counters) { statusLine_->setLineCounters(counters); }

void MainWindow::setOverviewAvailable(bool available) { overviewButton_->setVisible(available); }

void MainWindow::openPort()
{
    portPanel_->setFramesVisible(false);
    const PortSettings settings = portPanel_->settingsShown();
    station_.link.open(settings);
    configButton_->setEnabled(true);
    calibrateButton_->setEnabled(true);
    station_.polling.start();
    station_.health.onPortOpened();
    statusLine_->setDevice(station_.ports.deviceFor(settings.port));
    qCInfo(lcMonitor) << "port" << settings.port << "opened for instrument" << settings.address;
}

void MainWindow::closePort()
{
    station_.link.close();
    station_.polling.stop();
    configButton_->setEnabled(false);
    calibrateButton_->setEnabled(false);
    portPanel_->setFramesVisible(true);
    station_.health.onPortClosed();
}

void MainWindow::showRecorderState(const QString& text, bool healthy) { statusLine_->setRecorderState(text, healthy); }

void MainWindow::showJournalState(const QString& text, bool healthy) { statusLine_->setJournalState(text, healthy); }

void MainWindow::showUnacknowledgedAlarms(int count) { statusLine_->setUnacknowledgedAlarms(count); }

void MainWindow::releaseDatabase()
{
    if (store_)
        store_->close();
    if (reader_)
        reader_->close();
}

void MainWindow::exitStation()
{
    releaseDatabase();
    keepOpen_ = false;
    close();
}

void MainWindow::leaveForHistory()
{
    leavingForHistory_ = true;
    releaseDatabase();
    keepOpen_ = false;
    close();
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    // A refused close keeps the trend's connection and the sample
    // announcements: the operator's real-time trend goes on advancing.
    if (keepOpen_) {
        event->ignore();
        return;
    }
    if (unloaded_) {
        event->accept();
        return;
    }
    releaseDatabase();
    station_.flags.trendLinkEnabled = false;
    displayTick_->stop();
    unloaded_ = true;
    event->accept();
    if (leavingForHistory_)
        Q_EMIT historyRequested();
    else
        Q_EMIT exitRequested();
}
