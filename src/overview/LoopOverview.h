#pragma once
#include <QString>
#include <QVector>
#include <QWidget>

class Journal;
class LinkHealth;
class LoopFace;
class QGridLayout;
class QPushButton;
class QTimer;
class SparkFeed;
struct LiveImage;

struct OverviewLoop {
    int address = 0;                    // 1..16
    QString name;                       // e.g. "1区上部"; empty: "回路 N"
    const LiveImage* image = nullptr;   // updated by the loop's polling
    const LinkHealth* health = nullptr; // state(), ageOfLastGoodMs(), stateChanged
    QString historyPath;                // the loop's history: a SQLite file path or a postgresql:// URL
};

// "回路总览": one faceplate per loop in a grid (4 × 4 for 16 loops; the
// faceplates grow with the window), an alarm summary and "退出" at the
// bottom. It only reads: the loops' images and health every
// kRefreshIntervalMs, the journal's counts as they change, and the
// sparklines from each loop's one-second ring through a reader thread of
// its own, once a second. A faceplate repaints only what changed.
class LoopOverview final : public QWidget {
    Q_OBJECT
public:
    static constexpr int kRefreshIntervalMs = 500;
    static constexpr int kSparkIntervalMs = 1000;

    LoopOverview(QVector<OverviewLoop> loops, Journal* journal /* may be null */, QWidget* parent = nullptr);
    ~LoopOverview() override;

    LoopFace* face(int address) const;

public Q_SLOTS:
    // Reads every loop's image and health now (the refresh timer's work).
    void refresh();
    // Asks each loop's ring for what is new (the sparkline timer's work).
    void pollSparklines();

Q_SIGNALS:
    void loopChosen(int address);
    void exitRequested();
    // Open 事件记录 on the unacknowledged alarms (JournalWindow::showUnacknowledgedAlarms()).
    void alarmSummaryClicked();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    // Nothing on screen says how many columns the grid has.
    friend class TestLoopOverview;
    int columns() const { return columns_; }

    struct Entry {
        OverviewLoop loop;
        LoopFace* face = nullptr;
        SparkFeed* feed = nullptr;
    };
    void step(LoopFace* from, int dx, int dy);
    void showSummary();

    QVector<Entry> entries_;
    Journal* journal_ = nullptr;
    int columns_ = 1;
    QPushButton* summary_ = nullptr;
    QPushButton* exitButton_ = nullptr;
    QTimer* refreshTimer_ = nullptr;
    QTimer* sparkTimer_ = nullptr;
    int inAlarm_ = -1;
    int offline_ = -1;
    int unacknowledged_ = -1;
    bool exiting_ = false;
};
