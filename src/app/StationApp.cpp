#include "StationApp.h"
#include "LineBus485.h"
#include "LoopList.h"
#include "AppLog.h"
#include "HistoryLocation.h"
#include "HistoryStore.h"
#include "HistoryWindow.h"
#include "Journal.h"
#include "JournalStore.h"
#include "JournalWindow.h"
#include "TransitionWatcher.h"
#include "WriteAudit.h"
#include "MainWindow.h"
#include "MqttPublisher.h"
#include "PortPanel.h"
#include "Recorder.h"
#include "ConfigWindow.h"
#include "TuningWindow.h"
#include "SegmentsWindow.h"
#include "StatusLine.h"
#include "Splash.h"
#include "ServerWatchdog.h"

#include <QApplication>
#include <QSessionManager>
#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QScreen>

Q_LOGGING_CATEGORY(lcApp, "px.app")

StationApp::StationApp(const StationOptions& options, std::unique_ptr<Modbus485> bus, LinkClient::Mode mode)
    : options_(options)
{
    // A server URL without a station takes the station's name as its schema.
    const QString path = withDefaultStation(databasePathFor(options_), options_.station, options_.address);
    // The demo keeps its journal apart from the plant's, as it does its history.
    QString journalPath = options_.journalPath;
    if (journalPath.isEmpty())
        journalPath = options_.demo && options_.databasePath.isEmpty()
                          ? QFileInfo(path).absoluteDir().filePath(QStringLiteral("DemoJournal.db"))
                          : defaultJournalPath(path);
    journal_ = std::make_unique<Journal>(journalPath);
    buildLoops(std::move(bus), mode, path);
    current_ = loops_.front().get();
}

void StationApp::buildLoops(std::unique_ptr<Modbus485> bus, LinkClient::Mode mode, const QString& path)
{
    const auto lineBus = [&]() { return bus ? std::move(bus) : makeLineBus(options_.ports); };
    if (options_.lines.isEmpty()) {
        lines_.push_back(std::make_unique<LinkClient>(lineBus(), mode));
        LoopSetup setup;
        setup.databasePath = path;
        setup.ports = options_.ports;
        setup.mqtt = options_.mqtt;
        setup.broker = options_.broker;
        setup.publishName = options_.station;
        loops_.push_back(std::make_unique<Loop>(*lines_.front(), *journal_, setup));
        return;
    }
    for (const LineOptions& line : options_.lines) {
        lines_.push_back(std::make_unique<LinkClient>(lineBus(), mode));
        for (const LoopOption& loop : line.loops) {
            LoopSetup setup;
            setup.address = loop.address;
            setup.name = loop.name;
            // Checked when the command line was read.
            setup.databasePath = loopHistoryLocation(path, loop.address).value_or(path);
            setup.ports = options_.ports;
            setup.mqtt = options_.mqtt;
            setup.broker = options_.broker;
            setup.publishName = QStringLiteral("%1_%2").arg(options_.station).arg(loop.address);
            loops_.push_back(std::make_unique<Loop>(*lines_.back(), *journal_, setup));
        }
    }
}

Loop* StationApp::loopAt(int address) const
{
    for (const auto& loop : loops_)
        if (loop->address() == address)
            return loop.get();
    return nullptr;
}

QString StationApp::defaultJournalPath(const QString& databasePath)
{
    // A history on a server keeps the journal beside it, in the station's schema.
    return journalLocationFor(QString(), databasePath);
}

StationApp::~StationApp()
{
    shutdown();
    // Windows hold references into what this object owns.
    delete secondary_.data();
    delete main_.data();
    delete overview_.data();
    delete splash_.data();
}

void StationApp::start()
{
    splash_ = new Splash;
    splash_->setAttribute(Qt::WA_DeleteOnClose);
    for (const auto& loop : loops_)
        loop->scale().span = 1500; // before any trend window initialises
    connect(splash_, &Splash::handOver, this, &StationApp::handOver);
    splash_->show();
}

void StationApp::handOver()
{
    if (hasLoops())
        showOverview();
    else
        showMainWindow();
    // The recorders start with the hand-over and run, port open or not,
    // until the program ends.
    for (const auto& loop : loops_)
        loop->startRecording(true);
    connectRecorderToStatus();
    // Logging out: the session may end the process without a close (its
    // display gone); what waits for the history and the journal is on disk first.
    connect(qApp, &QGuiApplication::commitDataRequest, this, [this] {
        for (const auto& loop : loops_)
            if (loop->recorder())
                loop->recorder()->spoolHeld();
        journal_->spoolHeld();
    });
    for (const auto& loop : loops_)
        if (loop->publisher())
            loop->publisher()->start(); // the status line was wired with the main window
    QString port = QStringLiteral("端口待选择");
    if (options_.portNumber > 0)
        port =
            QStringLiteral("端口 %1 (%2)").arg(options_.portNumber).arg(options_.ports.deviceFor(options_.portNumber));
    if (hasLoops()) {
        QStringList lines;
        for (const LineOptions& line : options_.lines) {
            QVector<int> addresses;
            for (const LoopOption& l : line.loops)
                addresses.append(l.address);
            lines << QStringLiteral("端口 %1 (%2) 仪表 %3")
                         .arg(line.portNumber)
                         .arg(options_.ports.deviceFor(line.portNumber), LoopList::format(addresses));
        }
        port = lines.join(QStringLiteral("；"));
    }
    journal_->append(QString::fromUtf16(JournalKind::System), QStringLiteral("station"),
                     QStringLiteral("操作站启动（版本 %1，历史数据库 %2，%3）")
                         .arg(QStringLiteral(PX5800_VERSION), redactedLocation(station().databasePath), port));
    if (!options_.connect)
        return;
    if (hasLoops()) {
        openLines();
    } else if (main_) {
        main_->portPanel()->preselect(options_.portNumber, options_.address, options_.baudIndex, options_.parityIndex);
        main_->openPort();
    }
}

// Every line opens once, and every loop on it polls from then on, whichever
// loop's window is shown.
void StationApp::openLines()
{
    for (std::size_t i = 0; i < lines_.size() && i < std::size_t(options_.lines.size()); ++i) {
        const LineOptions& line = options_.lines.at(qsizetype(i));
        PortSettings settings;
        settings.port = line.portNumber;
        settings.address = line.loops.value(0).address;
        settings.baudIndex = line.baudIndex >= 0 ? line.baudIndex : kDefaultBaudIndex;
        settings.parityIndex = line.parityIndex >= 0 ? line.parityIndex : 0;
        lines_[i]->open(settings);
    }
    for (const auto& loop : loops_) {
        loop->polling().start();
        loop->health().onPortOpened();
    }
    if (main_) {
        const PortSettings& s = current_->link().portSettings();
        main_->portPanel()->preselect(s.port, current_->address(), s.baudIndex, s.parityIndex);
        main_->openPort();
    }
}

void StationApp::showOverview()
{
    if (shutDown_)
        return;
    if (!overview_) {
        QVector<OverviewLoop> faces;
        for (const auto& loop : loops_)
            faces.append({loop->address(), loop->name(), &loop->image(), &loop->health(), loop->setup().databasePath});
        overview_ = new LoopOverview(faces, journal_.get());
        connect(overview_, &LoopOverview::loopChosen, this, &StationApp::showLoop);
        connect(overview_, &LoopOverview::exitRequested, this, [this] {
            shutdown();
            Q_EMIT finished();
        });
        connect(overview_, &LoopOverview::alarmSummaryClicked, this, [this] {
            auto* window = new JournalWindow(*journal_);
            window->setAttribute(Qt::WA_DeleteOnClose);
            window->showUnacknowledgedAlarms();
            window->resize(1100, 640);
            connect(window, &JournalWindow::returnRequested, window, &QWidget::close);
            window->show();
        });
    }
    if (main_) {
        main_->hide();
        current_->link().setFocused(false);
    }
    const QRect screen = QGuiApplication::primaryScreen() ? QGuiApplication::primaryScreen()->availableGeometry()
                                                          : QRect(0, 0, 1280, 800);
    if (screen.width() >= 1280 && screen.height() >= 800) {
        overview_->setGeometry(screen); // without a window manager maximising does nothing
        overview_->showMaximized();
    } else {
        overview_->resize(qMin(1280, screen.width()), qMin(800, screen.height()));
        overview_->show();
    }
    overview_->raise();
}

void StationApp::showLoop(int address)
{
    Loop* loop = loopAt(address);
    if (!loop || shutDown_)
        return;
    if (loop != current_) {
        if (secondary_) {
            secondary_->hide();
            secondary_->deleteLater();
        }
        delete main_.data();
        current_->link().setFocused(false);
        current_ = loop;
    }
    if (overview_)
        overview_->hide();
    if (main_)
        main_->show();
    else
        showMainWindow();
}

void StationApp::showMainWindow()
{
    main_ = new MainWindow(station());
    main_->setAttribute(Qt::WA_DeleteOnClose);
    if (hasLoops()) {
        main_->setLoop(current_->address(), current_->title());
        main_->setOverviewAvailable(true);
        connect(main_, &MainWindow::overviewRequested, this, &StationApp::showOverview);
        // Its main window open, the loop gets the full cycle twice a second.
        current_->link().setFocused(true);
        main_->showLineCounters(current_->lineCounters());
        connect(&current_->link(), &LinkClient::countersChanged, main_, &MainWindow::showLineCounters);
        const LinkClient& link = current_->link();
        if (link.isOpen()) {
            const PortSettings& s = link.portSettings();
            main_->portPanel()->preselect(s.port, current_->address(), s.baudIndex, s.parityIndex);
            main_->openPort();
        }
    }
    connect(main_, &MainWindow::exitRequested, this, [this] {
        shutdown();
        Q_EMIT finished();
    });
    connect(main_, &MainWindow::historyRequested, this, [this] {
        main_ = nullptr; // unloaded; it deletes itself
        showHistory();
    });
    connect(main_, &MainWindow::configRequested, this, &StationApp::showConfig);
    connect(main_, &MainWindow::segmentsRequested, this, &StationApp::showSegments);
    connect(main_, &MainWindow::journalRequested, this, &StationApp::showJournal);
    connect(main_, &MainWindow::tuningRequested, this, &StationApp::showTuning);
    connectRecorderToStatus();
    connectPublisherToStatus();
    connectJournalToStatus();
    const QRect screen = QGuiApplication::primaryScreen() ? QGuiApplication::primaryScreen()->availableGeometry()
                                                          : QRect(0, 0, 1280, 800);
    // The trend takes whatever room the screen offers.
    if (screen.width() >= 1280 && screen.height() >= 800)
        main_->showMaximized();
    else {
        main_->resize(qMin(1280, screen.width()), qMin(800, screen.height()));
        main_->show();
    }
}

void StationApp::connectRecorderToStatus()
{
    // The status line is rebuilt with each new main window; wire it to the
    // recorder once both exist.
    Recorder* recorder = current_->recorder();
    if (!recorder || !main_)
        return;
    main_->showRecorderState(recorder->stateText(), recorder->state() == RecorderState::Recording);
    connect(recorder, &Recorder::stateChanged, main_.data(), [m = main_.data()](RecorderState s, const QString& text) {
        m->showRecorderState(text, s == RecorderState::Recording);
    });
}

void StationApp::connectPublisherToStatus()
{
    MqttPublisher* publisher = current_->publisher();
    if (!publisher || !main_)
        return;
    auto* line = main_->findChild<StatusLine*>();
    if (!line)
        return;
    const auto show = [line, p = publisher] {
        line->setPublisherState(p->stateText(), p->isConnected(), p->stateDetail());
    };
    show();
    connect(publisher, &MqttPublisher::stateChanged, line, show);
}

void StationApp::connectJournalToStatus()
{
    MainWindow* m = main_.data();
    m->showJournalState(journal_->stateText(), journal_->healthy());
    m->showUnacknowledgedAlarms(journal_->unacknowledgedAlarms());
    connect(journal_.get(), &Journal::stateChanged, m,
            [m](bool healthy, const QString& text) { m->showJournalState(text, healthy); });
    connect(journal_.get(), &Journal::unacknowledgedAlarmsChanged, m, &MainWindow::showUnacknowledgedAlarms);
}

void StationApp::showJournal()
{
    auto* window = new JournalWindow(*journal_);
    secondary_ = window;
    connect(window, &JournalWindow::returnRequested, this, &StationApp::backToMain);
    window->resize(1100, 640);
    window->show();
}

void StationApp::showConfig()
{
    auto* window = new ConfigWindow(current_->link(), current_->paramRegs());
    window->setAudit(&current_->audit());
    secondary_ = window;
    connect(window, &ConfigWindow::returnRequested, this, &StationApp::backToMain);
    connect(window, &ConfigWindow::tuningRequested, this, &StationApp::showTuning);
    window->resize(920, 620);
    window->show();
}

void StationApp::showTuning()
{
    // One assistant at a time: another loop's is replaced unless it still
    // has the plant to put back (its close refuses then).
    if (tuning_ && tuningLoop_ != current_ && tuning_->close())
        tuning_ = nullptr;
    if (!tuning_) {
        auto* window = new TuningWindow(current_->link(), station().databasePath);
        window->setAudit(&current_->audit());
        if (hasLoops())
            window->setWindowTitle(window->windowTitle() + QStringLiteral(" — ") + current_->title());
        tuning_ = window;
        tuningLoop_ = current_;
    }
    tuning_->show();
    tuning_->raise();
    tuning_->activateWindow();
}

void StationApp::showSegments()
{
    auto* window = new SegmentsWindow(current_->link());
    window->setAudit(&current_->audit());
    secondary_ = window;
    connect(window, &SegmentsWindow::returnRequested, this, &StationApp::backToMain);
    window->resize(900, 600);
    window->show();
}

void StationApp::showHistory()
{
    auto* window = new HistoryWindow(current_->image(), current_->flags(), current_->scale(), station().databasePath);
    window->setLinkHealth(&current_->health());
    secondary_ = window;
    connect(window, &HistoryWindow::returnRequested, this, &StationApp::backToMain);
    window->show();
}

// The parameter windows only hid the main window; the history window's
// return builds a freshly initialised one.
void StationApp::backToMain()
{
    if (secondary_) {
        // The signal comes from inside the window's own event handler.
        secondary_->hide();
        secondary_->deleteLater();
    }
    if (main_)
        main_->show();
    else
        showMainWindow();
}

QWidget* StationApp::activeWindow() const
{
    if (overview_ && overview_->isVisible())
        return overview_;
    if (secondary_ && secondary_->isVisible())
        return secondary_;
    if (main_ && main_->isVisible())
        return main_;
    return splash_;
}

void StationApp::shutdown()
{
    if (shutDown_)
        return;
    shutDown_ = true;
    // From here a server round trip that hangs is cut within a second and no
    // new server connection is tried: the recorders' and the journal's
    // threads return, so the waits on them below and at destruction end.
    ServerWatchdog::beginStop();
    for (const auto& loop : loops_)
        loop->stop();
    // A step test still running puts mode and output back before the link stops.
    delete tuning_.data();
    QStringList open;
    for (const auto& line : lines_) {
        line->shutdown();
        const PortSettings& s = line->portSettings();
        if (line->isOpen())
            open << QStringLiteral("端口 %1，%2").arg(s.port).arg(journalPortText(s));
    }
    journal_->append(QString::fromUtf16(JournalKind::System), QStringLiteral("station"),
                     open.isEmpty() ? QStringLiteral("操作站停止")
                                    : QStringLiteral("操作站停止（%1）").arg(open.join(QStringLiteral("；"))));
    // After the stop event, so that it is published too (queued ahead of the
    // publisher's own "offline" and disconnect).
    for (const auto& loop : loops_)
        if (loop->publisher())
            loop->publisher()->shutdown();
    journal_->stop();
    qCInfo(lcApp) << "station stopped";
}
