#pragma once
#include "JournalStore.h"

#include <QDateTime>
#include <QWidget>

class Journal;
class JournalModel;
class JournalReader;
class QCheckBox;
class QComboBox;
class QDateTimeEdit;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;
class QTimer;

// "事件记录": the journal newest first, with filters by kind, time range
// and text, acknowledgement of alarm events and CSV export of what the
// filter shows. A journal with events of loops (instruments of a line) also
// shows their address ("回路") and filters by it; without any, the window
// is the one of a single instrument. Reads through its own reader thread; the journal's writer
// is never held up by it.
class JournalWindow final : public QWidget {
    Q_OBJECT
public:
    enum class Range { All, Today, Day, Week, Chosen };

    JournalWindow(Journal& journal, QWidget* parent = nullptr);
    ~JournalWindow() override;

    JournalModel* model() const { return model_; }
    // The filter the controls describe, at `now`.
    JournalFilter currentFilter(const QDateTime& now = QDateTime::currentDateTime()) const;
    static JournalFilter rangeFilter(Range range, const QDateTime& now, const QDateTime& from, const QDateTime& to);

    // Only the raised alarms still waiting for 确认, of every loop and time
    // (the loop overview's alarm summary opens the window so); the operator
    // widens the view again with "仅未确认报警".
    void showUnacknowledgedAlarms();

    // "确认" on the selected rows; returns how many alarm events it acknowledged.
    int acknowledgeSelected();
    // Writes what the filter shows to `path`; the answer comes as exportFinished().
    void exportTo(const QString& path);

Q_SIGNALS:
    void returnRequested();
    void exportFinished(int rows, const QString& error);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void applyFilter();
    void chooseExportFile();
    void showCount(int count);
    // Offers these loops in the filter and shows the loop column.
    void addLoops(const QList<int>& loops);

    Journal& journal_;
    JournalReader* reader_ = nullptr;
    JournalModel* model_ = nullptr;
    QTableView* table_ = nullptr;
    QComboBox* kind_ = nullptr;
    QComboBox* range_ = nullptr;
    QComboBox* loop_ = nullptr; // hidden while no event has a loop
    QDateTimeEdit* from_ = nullptr;
    QDateTimeEdit* to_ = nullptr;
    QLineEdit* search_ = nullptr;
    QCheckBox* unacknowledged_ = nullptr;
    QPushButton* ackButton_ = nullptr;
    QPushButton* exportButton_ = nullptr;
    QPushButton* returnButton_ = nullptr;
    QLabel* count_ = nullptr;
    QLabel* message_ = nullptr;
    QTimer* searchDelay_ = nullptr;
    int exportRequest_ = 0;
    int loopsRequest_ = 0;
};
