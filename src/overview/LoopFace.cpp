#include "LoopFace.h"
#include "LiveImage.h"
#include "MonitorTables.h"
#include "NumberText.h"
#include "StateColours.h"
#include "StationFonts.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>

using namespace MonitorTables;

namespace {
// The state rows of the main window, so a bit means here what it means there.
const StateRow& row(const char* label)
{
    for (const StateRow& r : stateRows())
        if (qstrcmp(r.label, label) == 0)
            return r;
    Q_UNREACHABLE();
}

constexpr int kProcessBlock = 0; // PollingCycle::cycleRequests(): input registers 1..8

// Calm greys; the station's light red for alarms, a darker red for what
// waits for 确认.
QColor faceGrey() { return QColor(0xEE, 0xEE, 0xEE); }
QColor edgeGrey() { return QColor(0xA8, 0xA8, 0xA8); }
QColor ink() { return QColor(0x20, 0x20, 0x20); }
QColor softInk() { return QColor(0x60, 0x60, 0x60); }
QColor unacknowledgedRed() { return QColor(0xC0, 0x10, 0x10); }
QColor focusBlue() { return QColor(0x30, 0x60, 0xB0); }

// A gap in the ring longer than this breaks the sparkline.
constexpr double kSparkGapS = 5.0;
} // namespace

FaceState faceStateOf(const LiveImage& image, const LinkHealth* health, int unacknowledged)
{
    FaceState s;
    s.link = FaceState::Link::Live;
    if (health) {
        switch (health->state()) {
        case LinkHealth::State::Answering: s.link = FaceState::Link::Live; break;
        case LinkHealth::State::Waiting: s.link = FaceState::Link::Waiting; break;
        case LinkHealth::State::NoAnswer:
        case LinkHealth::State::CannotOpen: s.link = FaceState::Link::Offline; break;
        case LinkHealth::State::Closed: s.link = FaceState::Link::Closed; break;
        }
        if (s.link == FaceState::Link::Offline) {
            const qint64 ms = health->ageOfLastGoodMs();
            s.ageS = ms < 0 ? -1 : ms / 1000;
        }
        s.valuesStale = s.link == FaceState::Link::Live && health->blockStale(kProcessBlock);
    }
    // As the main window shows them (DisplayTick::showValues).
    s.pv = singleText(image.Values[0]);
    s.sv = singleText(image.Values[2]);
    s.op = singleText(image.Values[1]);
    s.opPercent = std::clamp(image.Values[1], 0.0f, 100.0f);
    s.automatic = stateIsOn(row("D_1RW_0"), image);
    s.selfTune = stateIsOn(row("D_1RW_1"), image);
    s.alarm1 = stateIsOn(row("D_2R_0"), image);
    s.alarm2 = stateIsOn(row("D_2R_1"), image);
    s.sensorOpen = stateIsOn(row("D_2R_2"), image);
    s.sensorShort = stateIsOn(row("D_2R_3"), image);
    s.unacknowledged = qMax(0, unacknowledged);
    return s;
}

LoopFace::LoopFace(int address, const QString& name, QWidget* parent)
    : QWidget(parent), address_(address), title_(name.isEmpty() ? tr("回路 %1").arg(address) : name)
{
    setObjectName(QStringLiteral("LoopFace_%1").arg(address));
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAccessibleName(title_);
    setToolTip(tr("%1（地址 %2）：双击或回车打开").arg(title_).arg(address));
    layOut();
}

QSize LoopFace::sizeHint() const { return {300, 170}; }
QSize LoopFace::minimumSizeHint() const { return {220, 130}; }

bool LoopFace::setState(const FaceState& state)
{
    if (state == state_)
        return false;
    FaceState valuesOnly = state_;
    valuesOnly.pv = state.pv;
    valuesOnly.sv = state.sv;
    valuesOnly.op = state.op;
    valuesOnly.opPercent = state.opPercent;
    const bool onlyValues = valuesOnly == state;
    state_ = state;
    if (onlyValues)
        update(pvRect_.united(svRect_).united(opRect_).toAlignedRect());
    else
        update();
    return true;
}

void LoopFace::setSpark(const QVector<SparkSample>& samples, double now)
{
    spark_ = samples;
    sparkNow_ = now;
    buildSparkLines();
    update(sparkRect_.toAlignedRect().adjusted(-1, -1, 1, 1));
}

QColor LoopFace::background() const
{
    if (state_.link == FaceState::Link::Offline || state_.link == FaceState::Link::Closed)
        return StateColour::stale();
    if (state_.link == FaceState::Link::Live && state_.inAlarm())
        return StateColour::active();
    return faceGrey();
}

QColor LoopFace::frameColour() const { return state_.unacknowledged > 0 ? unacknowledgedRed() : edgeGrey(); }

QString LoopFace::statusText() const
{
    switch (state_.link) {
    case FaceState::Link::Live: return QString();
    case FaceState::Link::Waiting: return tr("等待数据");
    case FaceState::Link::Closed: return tr("未连接");
    case FaceState::Link::Offline: break;
    }
    const qint64 s = state_.ageS;
    if (s < 0)
        return tr("通讯中断 尚无数据");
    if (s < 60)
        return tr("通讯中断 %1 秒前").arg(s);
    if (s < 3600)
        return tr("通讯中断 %1 分前").arg(s / 60);
    return tr("通讯中断 %1 小时前").arg(s / 3600);
}

void LoopFace::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    layOut();
    buildSparkLines();
}

void LoopFace::layOut()
{
    const QRectF r = QRectF(rect()).adjusted(6, 4, -6, -4);
    const double row = std::clamp(r.height() * 0.14, 16.0, 30.0);
    header_ = QRectF(r.left(), r.top(), r.width(), row);
    lampRect_ = QRectF(r.left(), r.bottom() - row, r.width(), row);
    const QRectF body(r.left(), header_.bottom() + 2, r.width(), lampRect_.top() - header_.bottom() - 4);
    const double left = std::round(body.width() * 0.48);
    const double line = std::clamp(body.height() * 0.2, 13.0, 26.0);
    pvRect_ = QRectF(body.left(), body.top(), left, body.height() - 2 * line);
    svRect_ = QRectF(body.left(), pvRect_.bottom(), left, line);
    opRect_ = QRectF(body.left(), svRect_.bottom(), left, line);
    sparkRect_ = QRectF(body.left() + left + 6, body.top() + 2, body.width() - left - 6, body.height() - 4);

    titleFont_ = font();
    titleFont_.setPixelSize(qMax(11, int(row * 0.72)));
    titleFont_.setBold(true);
    textFont_ = font();
    textFont_.setPixelSize(qMax(10, int(line * 0.78)));
    smallFont_ = font();
    smallFont_.setPixelSize(qMax(10, int(row * 0.62)));
    // PV "-1999.9" fits its box in the fixed-pitch face.
    const double byWidth = pvRect_.width() / (7 * 0.62);
    pvFont_ = digitFont(10, true);
    pvFont_.setPixelSize(qMax(12, int(std::min(pvRect_.height() * 0.78, byWidth))));
}

void LoopFace::buildSparkLines()
{
    pvLine_.clear();
    svLine_.clear();
    if (spark_.isEmpty() || sparkRect_.width() < 4)
        return;
    float lo = spark_.first().pv, hi = lo;
    for (const SparkSample& s : std::as_const(spark_)) {
        lo = std::min({lo, s.pv, s.sv});
        hi = std::max({hi, s.pv, s.sv});
    }
    // A flat line sits in the middle rather than on an edge.
    if (hi - lo < 2.0f) {
        const float mid = (hi + lo) / 2;
        lo = mid - 1.0f;
        hi = mid + 1.0f;
    }
    const float pad = (hi - lo) * 0.08f;
    sparkLow_ = lo - pad;
    sparkHigh_ = hi + pad;
    const QRectF area = sparkRect_.adjusted(1, 2, -1, -2);
    const double from = sparkNow_ - SparkFeed::kSpanS;
    auto x = [&](double t) {
        return area.left() + std::clamp((t - from) / SparkFeed::kSpanS, 0.0, 1.0) * area.width();
    };
    auto y = [&](float v) {
        return area.bottom() - double(v - sparkLow_) / double(sparkHigh_ - sparkLow_) * area.height();
    };
    // A gap in the record is a break in the line: NaN points end a segment.
    const QPointF gap(qQNaN(), qQNaN());
    pvLine_.reserve(spark_.size() + 8);
    svLine_.reserve(spark_.size() + 8);
    double last = spark_.first().t;
    for (const SparkSample& s : std::as_const(spark_)) {
        if (s.t - last > kSparkGapS) {
            pvLine_ << gap;
            svLine_ << gap;
        }
        last = s.t;
        pvLine_ << QPointF(x(s.t), y(s.pv));
        svLine_ << QPointF(x(s.t), y(s.sv));
    }
}

namespace {
// Draws a polyline in the pieces between NaN points.
void drawBroken(QPainter& p, const QPolygonF& line)
{
    int start = 0;
    for (int i = 0; i <= line.size(); ++i) {
        if (i == line.size() || std::isnan(line[i].x())) {
            if (i - start > 1)
                p.drawPolyline(line.constData() + start, i - start);
            else if (i - start == 1)
                p.drawPoint(line[start]);
            start = i + 1;
        }
    }
}
} // namespace

void LoopFace::paintLamp(QPainter& p, const QRectF& r, const QString& text, bool on) const
{
    const double d = std::min(r.height() * 0.62, 14.0);
    const QRectF dot(r.left(), r.center().y() - d / 2, d, d);
    // Lit in a stronger red than the light red ground of a face in alarm.
    p.setPen(on ? QColor(0x90, 0x20, 0x20) : edgeGrey());
    p.setBrush(on ? QColor(0xE0, 0x40, 0x40) : QColor(0xDC, 0xDC, 0xDC));
    p.drawEllipse(dot);
    p.setPen(on ? ink() : softInk());
    p.drawText(r.adjusted(d + 4, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter, text);
}

void LoopFace::paintEvent(QPaintEvent* event)
{
    QPainter p(this);
    const QRect area = event->rect();
    const bool grey = state_.link == FaceState::Link::Offline || state_.link == FaceState::Link::Closed;
    const bool noValues = state_.link == FaceState::Link::Waiting || state_.link == FaceState::Link::Closed;
    const QColor text = grey ? QColor(0x70, 0x70, 0x70) : ink();
    const QColor soft = grey ? QColor(0x88, 0x88, 0x88) : softInk();

    // Ground and frame: a thick dark red frame while alarms wait for 确认.
    p.fillRect(area, palette().color(QPalette::Window));
    const QRectF face = QRectF(rect()).adjusted(1, 1, -1, -1);
    const double frame = state_.unacknowledged > 0 ? 3.0 : 1.0;
    p.setPen(QPen(frameColour(), frame));
    p.setBrush(background());
    p.drawRect(face.adjusted(frame / 2 - 0.5, frame / 2 - 0.5, -frame / 2 + 0.5, -frame / 2 + 0.5));
    if (hasFocus()) {
        p.setPen(QPen(focusBlue(), 2, Qt::DashLine));
        p.setBrush(Qt::NoBrush);
        p.drawRect(face.adjusted(4, 4, -4, -4));
    }

    if (area.intersects(header_.toAlignedRect())) {
        // Name and address on the left, mode and link on the right.
        p.setFont(titleFont_);
        p.setPen(text);
        const QFontMetricsF titleMetrics(titleFont_);
        const QString title = titleMetrics.elidedText(title_, Qt::ElideRight, header_.width() * 0.5);
        p.drawText(header_, Qt::AlignLeft | Qt::AlignVCenter, title);
        const double afterTitle = header_.left() + titleMetrics.horizontalAdvance(title) + 6;
        p.setFont(smallFont_);
        p.setPen(soft);
        const QString number = tr("%1号").arg(address_);
        p.drawText(QRectF(afterTitle, header_.top(), header_.width(), header_.height()),
                   Qt::AlignLeft | Qt::AlignVCenter, number);
        const double afterNumber = afterTitle + QFontMetricsF(smallFont_).horizontalAdvance(number) + 8;

        const QFontMetricsF small(smallFont_);
        double right = header_.right();
        auto badge = [&](const QString& word, bool strong) {
            const double w = small.horizontalAdvance(word) + 10;
            const QRectF b(right - w, header_.top() + 1, w, header_.height() - 2);
            p.setPen(QPen(strong ? text : soft, 1));
            p.setBrush(Qt::NoBrush);
            p.drawRoundedRect(b, 3, 3);
            p.drawText(b, Qt::AlignCenter, word);
            right -= w + 4;
        };
        const QString status = statusText();
        if (!status.isEmpty()) {
            p.setPen(text);
            const QFont& font = state_.offline() ? titleFont_ : smallFont_;
            p.setFont(font);
            // Never over the loop's name: what does not fit is cut short.
            const QRectF room(afterNumber, header_.top(), std::max(0.0, header_.right() - afterNumber),
                              header_.height());
            p.drawText(room, Qt::AlignRight | Qt::AlignVCenter,
                       QFontMetricsF(font).elidedText(status, Qt::ElideRight, room.width()));
        } else {
            if (state_.selfTune)
                badge(tr("自整定"), true);
            if (state_.automatic) {
                p.setPen(soft);
                p.drawText(QRectF(header_.left(), header_.top(), right - header_.left(), header_.height()),
                           Qt::AlignRight | Qt::AlignVCenter, tr("自动"));
            } else {
                badge(tr("手动"), true);
            }
        }
    }

    const QColor valueInk = state_.valuesStale ? QColor(0x70, 0x70, 0x70) : text;
    if (area.intersects(pvRect_.toAlignedRect())) {
        p.setFont(smallFont_);
        p.setPen(soft);
        p.drawText(pvRect_, Qt::AlignLeft | Qt::AlignTop, QStringLiteral("PV"));
        p.setFont(pvFont_);
        p.setPen(valueInk);
        p.drawText(pvRect_.adjusted(0, 0, -2, 0), Qt::AlignRight | Qt::AlignVCenter,
                   noValues ? QStringLiteral("—") : state_.pv);
    }
    if (area.intersects(svRect_.toAlignedRect())) {
        p.setFont(textFont_);
        p.setPen(soft);
        p.drawText(svRect_, Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("SV"));
        p.setPen(valueInk);
        p.drawText(svRect_.adjusted(0, 0, -2, 0), Qt::AlignRight | Qt::AlignVCenter,
                   noValues ? QStringLiteral("—") : state_.sv);
    }
    if (area.intersects(opRect_.toAlignedRect())) {
        // OP: a bar with its value beside it.
        p.setFont(textFont_);
        p.setPen(soft);
        const QFontMetricsF metrics(textFont_);
        const double caption = metrics.horizontalAdvance(QStringLiteral("OP ")) + 2;
        const double value = metrics.horizontalAdvance(QStringLiteral("99.9%")) + 6;
        p.drawText(opRect_, Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("OP"));
        const QRectF bar(opRect_.left() + caption, opRect_.top() + opRect_.height() * 0.25,
                         opRect_.width() - caption - value, opRect_.height() * 0.5);
        p.setPen(QPen(edgeGrey(), 1));
        p.setBrush(QColor(0xDA, 0xDA, 0xDA));
        p.drawRect(bar);
        if (!noValues && state_.opPercent > 0) {
            p.setPen(Qt::NoPen);
            p.setBrush(grey ? QColor(0xA0, 0xA0, 0xA0) : QColor(0x78, 0x78, 0x78));
            p.drawRect(QRectF(bar.left(), bar.top(), bar.width() * state_.opPercent / 100.0, bar.height()));
        }
        p.setPen(valueInk);
        p.drawText(opRect_.adjusted(0, 0, -2, 0), Qt::AlignRight | Qt::AlignVCenter,
                   noValues ? QStringLiteral("—") : state_.op + QLatin1Char('%'));
    }

    if (area.intersects(sparkRect_.toAlignedRect())) {
        p.setPen(QPen(QColor(0xC4, 0xC4, 0xC4), 1));
        p.setBrush(grey ? QColor(0xDE, 0xDE, 0xDE) : QColor(0xFA, 0xFA, 0xFA));
        p.drawRect(sparkRect_);
        if (!pvLine_.isEmpty()) {
            p.setRenderHint(QPainter::Antialiasing, true);
            p.setBrush(Qt::NoBrush);
            p.setPen(QPen(QColor(0x98, 0x98, 0x98), 1, Qt::DashLine));
            drawBroken(p, svLine_);
            p.setPen(QPen(grey ? QColor(0x80, 0x80, 0x80) : QColor(0x30, 0x30, 0x30), 1.3));
            drawBroken(p, pvLine_);
            p.setRenderHint(QPainter::Antialiasing, false);
            // The range, so the line's height means something.
            p.setFont(smallFont_);
            p.setPen(soft);
            const QRectF inner = sparkRect_.adjusted(1, 1, -1, -1);
            const QColor ground = grey ? QColor(0xDE, 0xDE, 0xDE) : QColor(0xFA, 0xFA, 0xFA);
            const QFontMetricsF metrics(smallFont_);
            for (const auto& [value, alignment] :
                 {std::pair{sparkHigh_, Qt::AlignTop}, std::pair{sparkLow_, Qt::AlignBottom}}) {
                const QString label = singleText(std::round(value));
                QRectF box(0, 0, metrics.horizontalAdvance(label) + 4, metrics.height());
                box.moveRight(inner.right());
                if (alignment == Qt::AlignTop)
                    box.moveTop(inner.top());
                else
                    box.moveBottom(inner.bottom());
                p.fillRect(box, ground); // over the line, readable
                p.drawText(box, Qt::AlignCenter, label);
            }
        } else {
            p.setFont(smallFont_);
            p.setPen(soft);
            p.drawText(sparkRect_, Qt::AlignCenter, tr("无曲线数据"));
        }
    }

    if (area.intersects(lampRect_.toAlignedRect())) {
        // One after the other, each as wide as its words.
        p.setFont(smallFont_);
        const QFontMetricsF metrics(smallFont_);
        double x = lampRect_.left();
        const std::pair<QString, bool> lamps[] = {
            {tr("报警1"), state_.alarm1},
            {tr("报警2"), state_.alarm2},
            {state_.sensorOpen    ? tr("传感器开路")
             : state_.sensorShort ? tr("传感器短路")
                                  : tr("传感器"),
             state_.sensorFault()},
        };
        QFont bold = smallFont_;
        bold.setBold(true);
        const QFontMetricsF boldMetrics(bold);
        // The unacknowledged count always has room: a lamp's words give way.
        const int unacknowledged = state_.unacknowledged;
        const QString shortMark = QStringLiteral("!%1").arg(unacknowledged);
        const double limit =
            lampRect_.right()
            - (unacknowledged > 0 ? boldMetrics.horizontalAdvance(shortMark) + metrics.height() * 0.4 : 0);
        const double lampSize = std::min(lampRect_.height() * 0.62, 14.0) + 4;
        double lampsEnd = x;
        for (const auto& [word, on] : lamps) {
            QString shown = word;
            double w = lampSize + metrics.horizontalAdvance(word);
            if (x + w > limit) {
                shown = metrics.elidedText(word, Qt::ElideRight, std::max(0.0, limit - x - lampSize));
                w = lampSize + metrics.horizontalAdvance(shown);
            }
            paintLamp(p, QRectF(x, lampRect_.top(), w + 2, lampRect_.height()), shown, on);
            lampsEnd = x + w + 2;
            x += w + metrics.height() * 0.8;
        }
        if (unacknowledged > 0) {
            p.setFont(bold);
            p.setPen(unacknowledgedRed());
            // After the lamps; where the words do not fit, the count alone.
            const QRectF room(lampsEnd, lampRect_.top(), std::max(0.0, lampRect_.right() - lampsEnd),
                              lampRect_.height());
            QString mark = tr("未确认 %1").arg(unacknowledged);
            if (boldMetrics.horizontalAdvance(mark) > room.width())
                mark = shortMark;
            p.drawText(room, Qt::AlignRight | Qt::AlignVCenter, mark);
        }
    }
}

void LoopFace::mousePressEvent(QMouseEvent* event)
{
    setFocus(Qt::MouseFocusReason);
    QWidget::mousePressEvent(event);
}

void LoopFace::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        Q_EMIT chosen(address_);
}

void LoopFace::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter: Q_EMIT chosen(address_); return;
    case Qt::Key_Left: Q_EMIT stepRequested(-1, 0); return;
    case Qt::Key_Right: Q_EMIT stepRequested(1, 0); return;
    case Qt::Key_Up: Q_EMIT stepRequested(0, -1); return;
    case Qt::Key_Down: Q_EMIT stepRequested(0, 1); return;
    default: QWidget::keyPressEvent(event);
    }
}

void LoopFace::focusInEvent(QFocusEvent* event)
{
    QWidget::focusInEvent(event);
    update();
}

void LoopFace::focusOutEvent(QFocusEvent* event)
{
    QWidget::focusOutEvent(event);
    update();
}
