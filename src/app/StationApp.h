#pragma once
#include "CommandLine.h"
#include "LinkClient.h"
#include "Loop.h"
#include "Station.h"
#include "LoopOverview.h"

#include <QObject>
#include <QPointer>
#include <memory>
#include <vector>

class Journal;
#include "MainWindow.h"
class MqttPublisher;
class Recorder;
#include "Splash.h"

// Owns everything that lives for the whole run and moves the operator
// between the windows: splash -> main window; main <-> configuration and
// grouped-PID windows (the main window is only hidden); main -> history
// window -> a freshly built main window. With loops (several instruments on
// a line) each loop has its own context and the windows are opened for one
// loop at a time.
class StationApp : public QObject {
    Q_OBJECT
public:
    StationApp(const StationOptions& options, std::unique_ptr<Modbus485> bus, LinkClient::Mode mode);
    ~StationApp() override;

    void start();    // shows the splash
    void handOver(); // what the splash's last tick does (public for tests)

    // The loop the windows show (the only one without loops).
    Station& station() { return current_->station(); }
    const std::vector<std::unique_ptr<Loop>>& loops() const { return loops_; }
    bool hasLoops() const { return !options_.lines.isEmpty(); }
    Loop* loopAt(int address) const;
    Recorder* recorder() const { return current_->recorder(); }
    MqttPublisher* publisher() const { return current_->publisher(); }
    Journal* journal() const { return journal_.get(); }

    // Shows the main window of the loop at `address` (loops only).
    void showLoop(int address);
    // "回路总览": the station's home when loops run (null without loops).
    LoopOverview* overview() const { return overview_; }
    void showOverview();

    // Journal.db in the history file's folder; for a server history, the
    // station's schema there.
    static QString defaultJournalPath(const QString& databasePath);

    // Ends the station: no thread or timer left running afterwards.
    void shutdown();

Q_SIGNALS:
    void finished(); // the operator pressed "退出"

private:
    // The tests follow the windows through the hand-overs; nothing else needs
    // to reach past the one shown.
    friend class TestApp;
    friend class TestE2eLoops;
    friend class TestTranslations;
    Splash* splash() const { return splash_; }
    MainWindow* mainWindow() const { return main_; }
    QWidget* activeWindow() const; // the one the operator sees

    void buildLoops(std::unique_ptr<Modbus485> bus, LinkClient::Mode mode, const QString& path);
    void openLines();
    void showMainWindow();
    void showConfig();
    void showTuning();
    void showSegments();
    void showHistory();
    void showJournal();
    void backToMain();
    void connectRecorderToStatus();
    void connectPublisherToStatus();
    void connectJournalToStatus();

    StationOptions options_;
    std::vector<std::unique_ptr<LinkClient>> lines_; // one; with loops, one per line
    std::unique_ptr<Journal> journal_;
    std::vector<std::unique_ptr<Loop>> loops_;
    Loop* current_ = nullptr;
    QPointer<Splash> splash_;
    QPointer<MainWindow> main_;
    QPointer<LoopOverview> overview_;
    QPointer<QWidget> secondary_;
    QPointer<QWidget> tuning_; // the tuning assistant, one at a time
    Loop* tuningLoop_ = nullptr;
    bool shutDown_ = false;
};
