#pragma once
#include "FopdtFit.h"
#include "PidRules.h"
#include "StepTest.h"
#include "TuningWrites.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <functional>

class LinkClient;
class TuningChart;
class WriteAudit;
class QComboBox;
class QDateTimeEdit;
class QDoubleSpinBox;
class QLabel;
class QPushButton;
struct ReadResult;

// "PID整定助手": a guided output step test or a recorded period, the fitted
// process model, and SIMC suggestions beside the instrument's present PID
// settings, written on "写入". Polls its own few registers twice a second;
// identification and history reads run off the GUI thread.
class TuningWindow : public QWidget {
    Q_OBJECT
public:
    static constexpr int kPollIntervalMs = 500;
    static constexpr int kLostAfterFailedPolls = 3;
    static constexpr int kGroupingRegister = 4609; // non-zero: the segments' PID groups are in use

    TuningWindow(LinkClient& link, QString databasePath, QWidget* parent = nullptr);
    ~TuningWindow() override;

    // The station's audited write path; without it writes go straight to the link.
    void setAudit(WriteAudit* audit) { writes_.setAudit(audit); }

    const FopdtFit& fit() const { return fit_; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    struct Analysis {
        RegularSeries series;
        FopdtFit fit;
        QString error;
    };

    void buildUi();
    void poll();
    void applyReads(const QVector<ReadResult>& results);
    void startTest();
    void stopTest();
    void testChanged();
    void analyseTest();
    void analyseHistory();
    void analyse(std::function<Analysis()> job);
    void showAnalysis(const Analysis& a);
    void updateSuggestion();
    void writeSuggestion();
    void updateButtons();

    LinkClient& link_;
    QString databasePath_;
    TuningWrites writes_; // every write of the window, the step test's too
    StepTest test_;
    QElapsedTimer clock_;
    QTimer pollTimer_;
    int failedPolls_ = 0;
    bool haveLive_ = false;
    double pv_ = 0.0;
    double op_ = 0.0;
    bool automatic_ = true;
    bool manualPermitted_ = true;
    bool grouping_ = false;
    bool testWasRunning_ = false;
    InstrumentPid present_;
    bool havePresent_ = false;
    FopdtFit fit_;
    std::optional<InstrumentPid> suggestion_;
    bool analysing_ = false;

    QDoubleSpinBox* stepSize_ = nullptr;
    QDoubleSpinBox* duration_ = nullptr;
    QDoubleSpinBox* bandLow_ = nullptr;
    QDoubleSpinBox* bandHigh_ = nullptr;
    QPushButton* startButton_ = nullptr;
    QPushButton* stopButton_ = nullptr;
    QLabel* testState_ = nullptr;
    QDateTimeEdit* from_ = nullptr;
    QDateTimeEdit* to_ = nullptr;
    QPushButton* analyseButton_ = nullptr;
    QLabel* fitResult_ = nullptr;
    QComboBox* speed_ = nullptr;
    QComboBox* kind_ = nullptr;
    QLabel* presentLabels_[3] = {};
    QLabel* suggestedLabels_[3] = {};
    QPushButton* writeButton_ = nullptr;
    QLabel* writeState_ = nullptr;
    int writeRound_ = 0;
    TuningChart* chart_ = nullptr;
};
