#pragma once
#include "TrendModel.h"
#include "TrendScale.h"
#include "TrendStyle.h"

#include <QDateTime>
#include <QImage>
#include <QWidget>
#include <array>

class QFrame;
class QGroupBox;
class QHBoxLayout;
class QLabel;
class QPushButton;
class QSlider;
class QTimer;
class TrendChart;
class TrendCsvExport;
class TrendDialogs;
class TrendYEditor;

// One trend window's trend: chart `pt` in its frame `pt0`, time/date labels
// Label4_j/Label7_j, scale labels Label5_i (PV/SV) and Label6_i (OP), legend
// Label8_i, clock Label2_9/Label2_10, the function frame "功能" with
// Command2..Command8, ruler slider `hc` and the Y editor (Label9, YKD,
// Label10, YKD1, Command26). It runs the one-second redraw (Timer2) and clock
// (Timer3) timers itself.
//
// The host window:
//  - calls load() once when it loads (starts the timers);
//  - owns the 200 ms display tick: stops and restarts it on
//    displayTickStopRequested() / displayTickRestartRequested(); on each tick
//    calls restoreReadoutColours() (and restores its own PV/OP/SV value labels
//    unless rulerOn()), updateYAxisLabels(), and appendLiveSample() when the
//    recorder has announced a sample;
//  - forwards key presses to handleKey() and handles Esc itself;
//  - shows rulerReadout() values in its PV/OP/SV labels on a yellow ground;
//  - may add its own buttons to the function frame with addFunctionButton().
class TrendView : public QWidget {
    Q_OBJECT
public:
    // `source` may be null (no database): the curves then lie flat at 0.
    // `scale` is the program-wide Y scale and must outlive the view.
    TrendView(const TrendStyle& style, HistorySource* source, TrendScale& scale, QWidget* parent = nullptr);
    // With a history that may answer later (a reader on its own thread): the
    // chart keeps its page until the next one is there.
    TrendView(const TrendStyle& style, std::unique_ptr<TrendHistory> history, TrendScale& scale,
              QWidget* parent = nullptr);
    ~TrendView() override;

    // The window-load sequence: zoom 1, enabling, live page, labels, timers.
    void load();

    // The display tick's new sample: one slot further (a new live page when
    // the run-on area is full), stamped with the station clock, redrawn.
    void appendLiveSample(float pv, float op, float sv);
    // Label5_0..6 from the shared scale.
    void updateYAxisLabels();
    // Clock labels back to their own colour, unless the ruler is on.
    void restoreReadoutColours();

    // F1, F2, F3 (if the style prints), F4, F5, F6, F7 (Qt::Key values).
    // Returns true when the key is one of these, whether or not its condition
    // let it act; false for every other key, Esc included.
    bool handleKey(int key);

    bool rulerOn() const;

    // Appends a host button (e.g. "退出", "历史曲线") to the function frame.
    void addFunctionButton(QPushButton* button);

    // F3's output: the window as shown; the dialogs of F3 print it or write
    // it to a file.
    QImage renderToImage();

    // F5's target: the stored sample nearest `when`, shown on a page that
    // has it on screen at every zoom, with the ruler on it. False when there
    // is no history to search (or, answered at once, no sample in it).
    bool jumpToTime(const QDateTime& when);

    const TrendModel& model() const { return model_; }
    TrendChart* chart() const { return chart_; }

public slots:
    // RedrawTrend: time and date labels, then a (coalesced) chart repaint.
    void redrawTrend();

signals:
    void displayTickStopRequested();
    void displayTickRestartRequested();
    void rulerReadout(float pv, float op, float sv);
    void rulerActiveChanged(bool on);
    // After every page read: false when the history could not be read.
    void historyReadable(bool readable);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildChartArea();
    void buildFunctionFrame();
    void layoutChartArea();
    void apply(const TrendCommandResult& result);
    void syncControls();
    void setSliderSteps();
    void showPageClock();
    void showClock();
    void zoomInClicked();
    void zoomOutClicked();
    void olderClicked();
    void newerClicked();
    void rulerClicked();
    void rulerMoved(int position);
    void showRulerControls(bool on);
    void showJump(const TrendModel::Jump& jump);
    // The ruler's readout of `slot`: clock labels and the host's PV/OP/SV.
    void showReadout(qint16 slot);
    void printClicked();
    void selectClicked();

    TrendStyle style_;
    TrendModel model_;
    TrendScale& scale_;

    QWidget* area_ = nullptr;
    QFrame* frame_ = nullptr;
    TrendChart* chart_ = nullptr;
    std::array<QLabel*, 9> timeLabels_{};  // Label4_j
    std::array<QLabel*, 9> dateLabels_{};  // Label7_j
    std::array<QLabel*, 7> valueLabels_{}; // Label5_i
    std::array<QLabel*, 7> opLabels_{};    // Label6_i
    std::array<QLabel*, 3> legend_{};      // Label8_i
    QLabel* clockDate_ = nullptr;          // Label2_9
    QLabel* clockTime_ = nullptr;          // Label2_10
    QSlider* slider_ = nullptr;            // hc

    QGroupBox* functionFrame_ = nullptr;
    QHBoxLayout* functionLayout_ = nullptr;
    QPushButton* zoomOut_ = nullptr; // Command4
    QPushButton* zoomIn_ = nullptr;  // Command3
    QPushButton* print_ = nullptr;   // Command2
    QPushButton* ruler_ = nullptr;   // Command5
    QPushButton* select_ = nullptr;  // Command6
    QPushButton* newer_ = nullptr;   // Command7
    QPushButton* older_ = nullptr;   // Command8

    TrendYEditor* yEditor_ = nullptr;     // Label9, YKD, Label10, YKD1, Command26
    TrendDialogs* dialogs_ = nullptr;     // F3's and F5's dialogs
    TrendCsvExport* csvExport_ = nullptr; // F3's "导出CSV"

    QTimer* redrawTimer_ = nullptr; // Timer2
    QTimer* clockTimer_ = nullptr;  // Timer3
    bool rulerControlsShown_ = false;
};
