#pragma once
#include "Station.h"

#include <QMainWindow>
#include <memory>

class AlarmSettingsPanel;
class DisplayTick;
class HistoryReader;
class HistoryStore;
class LiveTrend;
class ModePanel;
class OperatorCommands;
class PortPanel;
class QPushButton;
class QTimer;
class StatusLine;
class TrendView;
class ValuePanel;

// The main window "ssqx": live values, operator panel, port settings and the
// real-time trend. It composes panels; each panel is a class of its own:
//
//   +------------+-----------------------------------------------+
//   | ValuePanel | AlarmSettingsPanel                            |
//   | PV, SV, OP +-----------------------------------------------+
//   +------------+ real-time trend (takes the extra space)       |
//   | PortPanel  |                                               |
//   +------------+------------------------------+----------------+
//   | ModePanel: modes, alarm states, aux       |      NavFrame  |
//   +-------------------------------------------+----------------+
//   | StatusLine                                                 |
//
// DisplayTick ("Timer1") fills the panels from the LiveImage; OperatorCommands
// sends the entry rows and toggles the mode coils.
//
// A new MainWindow is built at start-up and after every visit to the history
// window (the initialisation runs in the constructor). The close box is
// refused while the keep-open flag is set; only "退出" and "历史曲线" clear it.
class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(Station& station, QWidget* parent = nullptr);
    ~MainWindow() override;

    PortPanel* portPanel() const { return portPanel_; }

    // The port actions of "打开" and "关闭" (public for --connect and tests).
    void openPort();
    void closePort();

    // "退出": closes the trend's database connection and unloads the window;
    // the application then ends.
    void exitStation();
    void showRecorderState(const QString& text, bool healthy);
    void showJournalState(const QString& text, bool healthy);
    void showUnacknowledgedAlarms(int count);

    // "历史曲线": unloads the window; the navigator then shows the history window.
    void leaveForHistory();

    // A loop on a line of several: the caption names it and its address is fixed.
    void setLoop(int address, const QString& title);
    // The line's counters for this loop, in the status line.
    void showLineCounters(const LineLoopCounters& counters);

    // With loops, "回路总览" (OverviewButton) after the other buttons of
    // 画面切换; hidden otherwise.
    void setOverviewAvailable(bool available);

Q_SIGNALS:
    void configRequested();   // "参数设置"
    void segmentsRequested(); // "输出分组"
    void journalRequested();  // "事件记录"
    void tuningRequested();   // "PID整定": the assistant, which analyses history without a line too
    void historyRequested();  // after the window was unloaded for the history window
    void exitRequested();     // after the window was unloaded by "退出"
    void overviewRequested(); // "回路总览": the opener hides this window and shows the overview

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    QWidget* buildNavigation();
    void installKeys();
    void releaseDatabase();

    Station& station_;
    std::unique_ptr<HistoryStore> store_;   // the trend's own connection to a file
    std::unique_ptr<HistoryReader> reader_; // or to a server, on a thread of its own
    bool keepOpen_ = false;
    bool unloaded_ = false;
    bool leavingForHistory_ = false;

    PortPanel* portPanel_ = nullptr;
    StatusLine* statusLine_ = nullptr;
    ValuePanel* valuePanel_ = nullptr;
    AlarmSettingsPanel* alarmPanel_ = nullptr;
    ModePanel* modePanel_ = nullptr;
    DisplayTick* displayTick_ = nullptr;
    OperatorCommands* commands_ = nullptr;
    TrendView* trendView_ = nullptr;
    std::unique_ptr<LiveTrend> liveTrend_;   // the trend as the display tick sees it
    QPushButton* exitButton_ = nullptr;      // Command1
    QPushButton* configButton_ = nullptr;    // Command21
    QPushButton* segmentsButton_ = nullptr;  // Command22
    QPushButton* calibrateButton_ = nullptr; // Command23 (hidden)
    QPushButton* correctButton_ = nullptr;   // Command24 (hidden)
    QPushButton* historyButton_ = nullptr;   // Command29
    QPushButton* tuningButton_ = nullptr;    // TuningButton
    QPushButton* journalButton_ = nullptr;   // Command30
    QPushButton* overviewButton_ = nullptr;  // OverviewButton
};
