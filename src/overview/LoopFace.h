#pragma once
#include "LinkHealth.h"
#include "SparkFeed.h"

#include <QPolygonF>
#include <QString>
#include <QWidget>

struct LiveImage;

// What one faceplate shows, read from the loop's LiveImage, LinkHealth and
// the journal's count; the faceplate repaints only when this changes.
struct FaceState {
    enum class Link {
        Live,    // answering
        Waiting, // opened, no complete cycle yet
        Offline, // no answer, or the port cannot be opened: 通讯中断
        Closed,  // not polled
    };
    Link link = Link::Closed;
    qint64 ageS = -1; // Offline: whole seconds since the last good values (-1: none yet)
    QString pv, sv, op;
    float opPercent = 0.0f;
    bool valuesStale = false; // the process block alone is not answering
    bool automatic = true;
    bool selfTune = false;
    bool alarm1 = false, alarm2 = false;
    bool sensorOpen = false, sensorShort = false;
    int unacknowledged = 0; // raised alarms of this loop waiting for 确认

    bool sensorFault() const { return sensorOpen || sensorShort; }
    // In alarm by what the instrument last said (an offline loop's values are old).
    bool inAlarm() const { return alarm1 || alarm2 || sensorFault(); }
    bool offline() const { return link == Link::Offline; }
    bool operator==(const FaceState&) const = default;
};

// `health` may be null (then the loop counts as live).
FaceState faceStateOf(const LiveImage& image, const LinkHealth* health, int unacknowledged);

// One loop's faceplate "LoopFace_<address>", painted in one go (no child
// widgets): name and address, PV large, SV, OP as a bar, 自动/手动, 自整定,
// alarm and sensor lamps and a sparkline of PV and SV. Calm greys; colour
// only for what is abnormal. Double click or Enter chooses the loop; the
// arrow keys ask the overview to move the focus.
class LoopFace final : public QWidget {
    Q_OBJECT
public:
    LoopFace(int address, const QString& name, QWidget* parent = nullptr);

    int address() const { return address_; }
    QString title() const { return title_; }
    const FaceState& state() const { return state_; }
    // Repaints only when something shown changed; returns whether it did.
    bool setState(const FaceState& state);
    // The sparkline: the samples of the span ending at `now` (SparkSample::t).
    void setSpark(const QVector<SparkSample>& samples, double now);

    // The face's colours, for the states the station tells apart.
    QColor background() const;
    QColor frameColour() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

Q_SIGNALS:
    void chosen(int address);
    void stepRequested(int dx, int dy);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    // The samples are only painted; the test reads them here.
    friend class TestLoopOverview;
    const QVector<SparkSample>& spark() const { return spark_; }

    void layOut();
    void buildSparkLines();
    QString statusText() const;
    void paintLamp(QPainter& p, const QRectF& r, const QString& text, bool on) const;

    int address_;
    QString title_;
    FaceState state_;
    QVector<SparkSample> spark_;
    double sparkNow_ = 0.0;
    QPolygonF pvLine_, svLine_;
    float sparkLow_ = 0.0f, sparkHigh_ = 0.0f;

    // Geometry and fonts, worked out on resize.
    QRectF header_, pvRect_, svRect_, opRect_, sparkRect_, lampRect_;
    QFont titleFont_, pvFont_, textFont_, smallFont_;
};
