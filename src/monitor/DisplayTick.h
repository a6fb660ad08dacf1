#pragma once
#include "MonitorTables.h"

#include <QList>
#include <QString>
#include <QObject>

class LinkHealth;
class LiveTrend;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;
class QWidget;
struct LiveImage;
struct SampleFlags;

// The main window's 200 ms display tick ("Timer1"): rewrites every value and
// state label from the LiveImage, relabels the trend's Y axis and hands the
// recorder's new samples to the live trend. It keeps no state of its own
// beyond whether the values on screen are stale.
//
// While the link reports no answer (or a port that cannot be opened), the
// values stay on screen but look stale (grey) and say in their tooltip how
// old they are; they look normal again as soon as answers come back. While
// the instrument answers but one polled block does not, only that block's
// values look stale.
class DisplayTick : public QObject {
    Q_OBJECT
public:
    static constexpr int kIntervalMs = 200;

    // Finds the labels by name under `root`.
    DisplayTick(const LiveImage& image, SampleFlags& flags, const LinkHealth& health, QWidget* root,
                QObject* parent = nullptr);

    // The live trend; null until it exists (the tick then leaves the trend
    // parts out, but still takes the sample announcement down).
    void setTrend(LiveTrend* trend) { trend_ = trend; }

    void start();
    void stop();

    // One tick (Timer1_Timer); public so tests can drive it.
    void tick();

    // The ruler's readout in the PV, OP and SV labels, on the readout colour.
    void showReadout(float pv, float op, float sv);

private:
    // `block`: the polling cycle's block the label's value comes from.
    struct ValueTarget {
        const MonitorTables::ValueRow* row;
        QLabel* label;
        bool readout; // PV, OP, SV: value colour, and the ruler's readout
        int block;
    };
    struct StateTarget {
        const MonitorTables::StateRow* row;
        QLabel* label;
        QString normalTip;
        int block;
    };
    struct TypeTarget {
        const MonitorTables::AlarmTypeRow* row;
        QLabel* label;
        int block;
    };

    void showValues();
    void showAlarmTypes();
    void showStates();
    void showFreshness();
    bool staleBlock(int block) const;
    QString staleTip(int block) const;

    const LiveImage& image_;
    SampleFlags& flags_;
    const LinkHealth& health_;
    LiveTrend* trend_ = nullptr;
    QTimer* timer_ = nullptr;
    QList<ValueTarget> values_;
    QList<StateTarget> states_;
    QList<TypeTarget> types_;
    QLineEdit* manualBox_ = nullptr;      // T_3RW_1
    QPushButton* manualButton_ = nullptr; // Command25
    bool stale_ = false;
};
