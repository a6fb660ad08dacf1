#include "MainWindow.h"
#include "HistoryStore.h"
#include "MonitorLog.h"
#include "PortPanel.h"
#include "StatusLine.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
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
} // namespace

MainWindow::MainWindow(Station& station, QWidget* parent) : QMainWindow(parent), station_(station)
{
    setObjectName(QStringLiteral("ssqx"));
    setWindowTitle(QStringLiteral("过程控制仪表 PX5800"));
    setAttribute(Qt::WA_DeleteOnClose, false);

    auto* central = new QWidget(this);
    auto* grid = new QGridLayout(central);
    grid->setContentsMargins(6, 6, 6, 6);
    grid->setSpacing(6);

    portPanel_ = new PortPanel(station_.ports, central);
    grid->addWidget(portPanel_, 0, 1);
    grid->addWidget(buildNavigation(), 1, 1, Qt::AlignTop);
    grid->setColumnStretch(0, 1);
    setCentralWidget(central);

    statusLine_ = new StatusLine(station_.health, this);
    statusBar()->addWidget(statusLine_, 1);
    statusBar()->setSizeGripEnabled(true);

    connect(portPanel_->openButton(), &QPushButton::clicked, this, &MainWindow::openPort);
    connect(portPanel_->closeButton(), &QPushButton::clicked, this, &MainWindow::closePort);

    // Initialisation: lists and defaults (done by the panel), the trend link,
    // the window's own database connection and the newest sample id.
    station_.flags.trendLinkEnabled = true;
    store_ = std::make_unique<HistoryStore>(QStringLiteral("ssqx"));
    QString error;
    if (!station_.databasePath.isEmpty() && store_->open(station_.databasePath, &error)) {
        if (const auto newest = store_->newestId(HistoryRing::Short))
            startId_ = *newest;
    } else if (!station_.databasePath.isEmpty()) {
        qCWarning(lcMonitor) << "main window: history database unavailable:" << error;
    }
    keepOpen_ = true;
}

MainWindow::~MainWindow() = default;

QWidget* MainWindow::buildNavigation()
{
    auto* box = new QGroupBox(this);
    box->setObjectName(QStringLiteral("NavFrame"));
    auto* layout = new QGridLayout(box);
    configButton_ = button(QStringLiteral("Command21"), QStringLiteral("参数设置"), box);
    segmentsButton_ = button(QStringLiteral("Command22"), QStringLiteral("输出分组"), box);
    calibrateButton_ = button(QStringLiteral("Command23"), QStringLiteral("参数校准"), box);
    correctButton_ = button(QStringLiteral("Command24"), QStringLiteral("输出校正"), box);
    exitButton_ = button(QStringLiteral("Command1"), QStringLiteral("退出"), box);
    historyButton_ = button(QStringLiteral("Command29"), QStringLiteral("历史曲线"), box);
    layout->addWidget(configButton_, 0, 0);
    layout->addWidget(segmentsButton_, 0, 1);
    layout->addWidget(calibrateButton_, 1, 0);
    layout->addWidget(correctButton_, 1, 1);
    layout->addWidget(historyButton_, 2, 0);
    layout->addWidget(exitButton_, 2, 1);
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
    connect(historyButton_, &QPushButton::clicked, this, &MainWindow::leaveForHistory);
    connect(exitButton_, &QPushButton::clicked, this, &MainWindow::exitStation);
    return box;
}

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

void MainWindow::showRecorderState(const QString& text, bool healthy)
{
    statusLine_->setRecorderState(text, healthy);
}

void MainWindow::releaseDatabase()
{
    if (store_)
        store_->close();
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
    unloaded_ = true;
    event->accept();
    if (leavingForHistory_)
        Q_EMIT historyRequested();
    else
        Q_EMIT exitRequested();
}
