#pragma once
#include "TrendScale.h"

#include <QString>
#include <QWidget>
#include <array>
#include <memory>

class HistoryReader;
class HistoryStore;
class LinkHealth;
class QLabel;
class QPushButton;
class QTimer;
class TrendView;
struct LiveImage;
struct SampleFlags;

// The history window "lsqx": the long-period trend (one sample every ten
// seconds) with the live PV, OP, SV and alarm settings beside it.
//
//   +------------------------------------------------+-----------+
//   | legend                                   clock | 过程值     |
//   | trend chart (takes the extra space)            |  PV OP SV |
//   |                                                | 报警设定   |
//   | time/date labels, ruler slider                 |  D_4W_... |
//   +------------------------------------------------+           |
//   | 功能: F1..F7, 返回, Y editor                   |           |
//   +------------------------------------------------+-----------+
//
// The constructor is the window load: it announces the trend link, opens the
// window's own database connection ("lsqx"), loads the live page and starts
// the display tick ("Timer1"). A history on a server is opened and read on a
// thread of its own, so the window comes up at once whatever the network does. "返回" or Esc unloads the window and
// emits returnRequested(); the owner then deletes it and shows a fresh main window. The close box is refused and
// changes nothing: the window keeps its connection and keeps receiving samples.
//
// `image`, `flags` and `scale` are program-wide and must outlive the window.
class HistoryWindow : public QWidget {
    Q_OBJECT
public:
    static constexpr int kDisplayTickMs = 200;

    HistoryWindow(const LiveImage& image, SampleFlags& flags, TrendScale& scale, const QString& databasePath,
                  QWidget* parent = nullptr);
    ~HistoryWindow() override;

    // Optional: with the link's health the values look stale (grey, with the
    // reason in their tooltip) while the instrument does not answer, as in the
    // main window. Must outlive the window.
    void setLinkHealth(const LinkHealth* health);

    // One display tick (Timer1_Timer); public so that tests can drive it.
    void tick();
    // F1..F7 go to the trend, Esc to "返回". True when the key was one of them.
    bool handleKey(int key);

public Q_SLOTS:
    // "返回" (Command1): releases the connection and the trend link, unloads
    // the window and emits returnRequested().
    void returnToMain();

Q_SIGNALS:
    // The window has been unloaded by "返回"; show the main window again.
    void returnRequested();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    // Whether the connection is held shows nowhere on screen while it works.
    friend class TestHistoryWindow;
    friend class TestHistorianWindow;
    // Whether the window's own database connection is open.
    bool databaseOpen() const;

    QWidget* buildSidePanel();
    void installKeys();
    void unload();
    void showRulerReadout(float pv, float op, float sv);
    void restoreValueColours();
    void showValues();
    void showFreshness();

    const LiveImage& image_;
    SampleFlags& flags_;
    TrendScale& scale_;
    const LinkHealth* health_ = nullptr;
    std::unique_ptr<HistoryStore> store_;   // a file: read on this thread
    std::unique_ptr<HistoryReader> reader_; // a server: read on a thread of its own
    bool closeRefused_ = false;
    bool loaded_ = false;
    bool stale_ = false;

    TrendView* trend_ = nullptr;
    QTimer* tick_ = nullptr;                 // Timer1
    QPushButton* returnButton_ = nullptr;    // Command1
    QLabel* databaseNote_ = nullptr;         // shown when the history cannot be read
    std::array<QLabel*, 3> processValues_{}; // D_3W_0..2: PV, OP, SV
    std::array<QLabel*, 8> settings_{};      // D_4W_256..263, in the order of the setting rows
};
