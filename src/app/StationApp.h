#pragma once
#include "CommandLine.h"
#include "LinkClient.h"
#include "ParamTable.h"
#include "LinkHealth.h"
#include "LiveImage.h"
#include "PollingCycle.h"
#include "SampleFlags.h"
#include "Station.h"
#include "TrendScale.h"

#include <QObject>
#include <QPointer>
#include <memory>

#include "MainWindow.h"
class Journal;
class Recorder;
class MqttPublisher;
class TransitionWatcher;
class WriteAudit;
#include "Splash.h"

// Owns everything that lives for the whole run and moves the operator
// between the windows: splash -> main window; main <-> configuration and
// grouped-PID windows (the main window is only hidden); main -> history
// window -> a freshly built main window.
class StationApp : public QObject {
    Q_OBJECT
public:
    StationApp(const StationOptions& options, std::unique_ptr<Modbus485> bus, LinkClient::Mode mode);
    ~StationApp() override;

    void start();      // shows the splash
    void handOver();   // what the splash's last tick does (public for tests)

    Station& station() { return *station_; }
    Splash* splash() const { return splash_; }
    MainWindow* mainWindow() const { return main_; }
    QWidget* activeWindow() const;
    Recorder* recorder() const { return recorder_.get(); }
    MqttPublisher* publisher() const { return publisher_.get(); }
    Journal* journal() const { return journal_.get(); }

    // Journal.db in the history file's folder; for a server history, the
    // station's schema there.
    static QString defaultJournalPath(const QString& databasePath);

    // Ends the station: no thread or timer left running afterwards.
    void shutdown();

Q_SIGNALS:
    void finished(); // the operator pressed "退出"

private:
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
    LiveImage image_;
    SampleFlags flags_;
    TrendScale scale_;
    ParamRegs paramRegs_; // kept across openings of the configuration window
    std::unique_ptr<LinkClient> link_;
    std::unique_ptr<LinkHealth> health_;
    std::unique_ptr<PollingCycle> polling_;
    std::unique_ptr<Recorder> recorder_;
    std::unique_ptr<MqttPublisher> publisher_; // with --mqtt only
    std::unique_ptr<Journal> journal_;
    std::unique_ptr<WriteAudit> audit_;
    std::unique_ptr<TransitionWatcher> watcher_;
    std::unique_ptr<Station> station_;
    QPointer<Splash> splash_;
    QPointer<MainWindow> main_;
    QPointer<QWidget> secondary_;
    QPointer<QWidget> tuning_; // the tuning assistant, one at a time
    bool shutDown_ = false;
};
