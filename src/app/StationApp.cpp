#include "StationApp.h"
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
    link_ = std::make_unique<LinkClient>(std::move(bus), mode);
    health_ = std::make_unique<LinkHealth>();
    polling_ = std::make_unique<PollingCycle>(*link_, image_);
    connect(link_.get(), &LinkClient::exchangeCompleted, health_.get(), &LinkHealth::onExchange);
    connect(link_.get(), &LinkClient::exceptionAnswered, health_.get(), &LinkHealth::onException);
    connect(link_.get(), &LinkClient::portStateChanged, health_.get(), &LinkHealth::onPortState);
    connect(polling_.get(), &PollingCycle::blocksAnswered, health_.get(), &LinkHealth::onBlocks);
    connect(polling_.get(), &PollingCycle::cycleCompleted, health_.get(), [this](bool all) {
        health_->setSkippedTicks(polling_->skippedTicks());
        health_->onCycle(all);
    });
    if (options_.mqtt) {
        // After the health connection above, so a cycle's live message
        // carries the link state that cycle produced.
        publisher_ = std::make_unique<MqttPublisher>(options_.broker, options_.station, image_, *health_);
        connect(polling_.get(), &PollingCycle::cycleCompleted, publisher_.get(), &MqttPublisher::onCycleCompleted);
    }
    // A server URL without a station takes the station's name as its schema.
    const QString path = withDefaultStation(databasePathFor(options_), options_.station, options_.address);
    station_.reset(new Station{*link_, image_, *polling_, *health_, flags_, scale_, nullptr, options_.ports, path});

    // The demo keeps its journal apart from the plant's, as it does its history.
    QString journalPath = options_.journalPath;
    if (journalPath.isEmpty())
        journalPath = options_.demo && options_.databasePath.isEmpty()
                          ? QFileInfo(path).absoluteDir().filePath(QStringLiteral("DemoJournal.db"))
                          : defaultJournalPath(path);
    journal_ = std::make_unique<Journal>(journalPath);
    audit_ = std::make_unique<WriteAudit>(*link_, *journal_);
    watcher_ = std::make_unique<TransitionWatcher>(*journal_, image_, *link_, *health_);
    connect(polling_.get(), &PollingCycle::cycleCompleted, watcher_.get(), &TransitionWatcher::onCycle);
    connect(health_.get(), &LinkHealth::stateChanged, watcher_.get(), &TransitionWatcher::onLinkState);
    connect(link_.get(), &LinkClient::portStateChanged, watcher_.get(), &TransitionWatcher::onPortState);
    station_->journal = journal_.get();
    station_->audit = audit_.get();
    if (publisher_)
        connect(journal_.get(), &Journal::eventAppended, publisher_.get(),
                [p = publisher_.get()](const JournalEvent& event) { p->publishEvent(toJson(event)); });
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
    delete splash_.data();
}

void StationApp::start()
{
    splash_ = new Splash;
    splash_->setAttribute(Qt::WA_DeleteOnClose);
    scale_.span = 1500; // before any trend window initialises
    connect(splash_, &Splash::handOver, this, &StationApp::handOver);
    splash_->show();
}

void StationApp::handOver()
{
    showMainWindow();
    // The recorder starts with the hand-over and runs, port open or not,
    // until the program ends.
    recorder_ = std::make_unique<Recorder>(image_, flags_, station_->databasePath, Recorder::Mode::Threaded);
    station_->recorder = recorder_.get();
    connectRecorderToStatus();
    connect(recorder_.get(), &Recorder::stateChanged, watcher_.get(), [this](RecorderState s, const QString& text) {
        watcher_->onRecorderState(s == RecorderState::Recording, text, recorder_->backlogSize(),
                                  recorder_->droppedSamples());
    });
    recorder_->start();
    // Logging out: the session may end the process without a close (its
    // display gone); what waits for the history and the journal is on disk first.
    connect(qApp, &QGuiApplication::commitDataRequest, this, [this] {
        recorder_->spoolHeld();
        journal_->spoolHeld();
    });
    if (publisher_)
        publisher_->start(); // the status line was wired with the main window
    QString port = QStringLiteral("端口待选择");
    if (options_.portNumber > 0)
        port = QStringLiteral("端口 %1 (%2)").arg(options_.portNumber).arg(options_.ports.deviceFor(options_.portNumber));
    journal_->append(QString::fromUtf16(JournalKind::System), QStringLiteral("station"),
                     QStringLiteral("操作站启动（版本 %1，历史数据库 %2，%3）")
                         .arg(QStringLiteral(PX5800_VERSION), redactedLocation(station_->databasePath), port));
    if (options_.connect && main_) {
        main_->portPanel()->preselect(options_.portNumber, options_.address, options_.baudIndex, options_.parityIndex);
        main_->openPort();
    }
}

void StationApp::showMainWindow()
{
    main_ = new MainWindow(*station_);
    main_->setAttribute(Qt::WA_DeleteOnClose);
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
    if (!recorder_ || !main_)
        return;
    main_->showRecorderState(recorder_->stateText(), recorder_->state() == RecorderState::Recording);
    connect(recorder_.get(), &Recorder::stateChanged, main_.data(), [m = main_.data()](RecorderState s, const QString& text) {
        m->showRecorderState(text, s == RecorderState::Recording);
    });
}

void StationApp::connectPublisherToStatus()
{
    if (!publisher_ || !main_)
        return;
    auto* line = main_->findChild<StatusLine*>();
    if (!line)
        return;
    const auto show = [line, p = publisher_.get()] {
        line->setPublisherState(p->stateText(), p->isConnected(), p->stateDetail());
    };
    show();
    connect(publisher_.get(), &MqttPublisher::stateChanged, line, show);
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
    auto* window = new ConfigWindow(*link_, paramRegs_);
    window->setAudit(audit_.get());
    secondary_ = window;
    connect(window, &ConfigWindow::returnRequested, this, &StationApp::backToMain);
    connect(window, &ConfigWindow::tuningRequested, this, &StationApp::showTuning);
    window->resize(920, 620);
    window->show();
}

void StationApp::showTuning()
{
    if (!tuning_) {
        auto* window = new TuningWindow(*link_, station_->databasePath);
        window->setAudit(audit_.get());
        tuning_ = window;
    }
    tuning_->show();
    tuning_->raise();
    tuning_->activateWindow();
}

void StationApp::showSegments()
{
    auto* window = new SegmentsWindow(*link_);
    window->setAudit(audit_.get());
    secondary_ = window;
    connect(window, &SegmentsWindow::returnRequested, this, &StationApp::backToMain);
    window->resize(900, 600);
    window->show();
}

void StationApp::showHistory()
{
    auto* window = new HistoryWindow(image_, flags_, scale_, station_->databasePath);
    window->setLinkHealth(health_.get());
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
    // new server connection is tried: the recorder's and the journal's
    // threads return, so the waits on them below and at destruction end.
    ServerWatchdog::beginStop();
    if (recorder_)
        recorder_->stop();
    polling_->stop();
    health_->onPortClosed();
    // A step test still running puts mode and output back before the link stops.
    delete tuning_.data();
    link_->shutdown();
    const PortSettings& s = link_->portSettings();
    journal_->append(QString::fromUtf16(JournalKind::System), QStringLiteral("station"),
                     link_->isOpen() ? QStringLiteral("操作站停止（端口 %1，%2）").arg(s.port).arg(journalPortText(s))
                                     : QStringLiteral("操作站停止"));
    // After the stop event, so that it is published too (queued ahead of the
    // publisher's own "offline" and disconnect).
    if (publisher_)
        publisher_->shutdown();
    journal_->stop();
    qCInfo(lcApp) << "station stopped";
}
