#include "Splash.h"
#include "CommonTexts.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QPixmap>
#include <QTimer>
#include <QVBoxLayout>

namespace {
QPixmap splashPicture()
{
    QPixmap pixmap(460, 150);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient g(0, 0, 0, 150);
    g.setColorAt(0, QColor(0x1f, 0x4e, 0x79));
    g.setColorAt(1, QColor(0x0b, 0x26, 0x3f));
    p.fillRect(pixmap.rect(), g);
    // A stylised trend: set value and a measured value settling onto it.
    p.setPen(QPen(QColor(0, 192, 0), 2));
    p.drawLine(20, 60, 440, 60);
    p.setPen(QPen(QColor(255, 80, 80), 2));
    QPolygonF pv;
    for (int x = 0; x <= 420; x += 4) {
        const double t = x / 420.0;
        pv << QPointF(20 + x, 130 - 70 * (1 - std::exp(-5 * t)) - 8 * std::exp(-5 * t) * std::sin(12 * t));
    }
    p.drawPolyline(pv);
    QFont f = p.font();
    f.setPixelSize(34);
    f.setBold(true);
    p.setFont(f);
    p.setPen(Qt::white);
    p.drawText(QRect(0, 8, 440, 48), Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("PX5800"));
    return pixmap;
}
} // namespace

Splash::Splash(QWidget* parent) : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint)
{
    setObjectName(QStringLiteral("frmSplash"));
    setWindowTitle(CommonText::stationTitle());
    auto* layout = new QVBoxLayout(this);
    auto* picture = new QLabel(this);
    picture->setObjectName(QStringLiteral("Image1"));
    picture->setPixmap(splashPicture());
    auto* text = new QLabel(tr("系统正在初始化数据引擎，请稍后。。。。。。"), this);
    text->setObjectName(QStringLiteral("Label1"));
    text->setAlignment(Qt::AlignCenter);
    layout->addWidget(picture);
    layout->addWidget(text);
    setStyleSheet(QStringLiteral("Splash { background: white; border: 1px solid #1f4e79; }"));

    timer2_ = new QTimer(this);
    timer2_->setObjectName(QStringLiteral("Timer2"));
    timer2_->setInterval(200);
    connect(timer2_, &QTimer::timeout, this, &Splash::onTimer2);
    timer1_ = new QTimer(this);
    timer1_->setObjectName(QStringLiteral("Timer1"));
    timer1_->setInterval(100);
    connect(timer1_, &QTimer::timeout, this, &Splash::onTimer1);
}

void Splash::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!started_) {
        started_ = true;
        timer2_->start();
    }
}

void Splash::keyPressEvent(QKeyEvent* event) { event->accept(); }

// Only the hand-over takes the splash down: closed any other way it would
// leave the station running with no window at all.
void Splash::closeEvent(QCloseEvent* event)
{
    if (handingOver_)
        event->accept();
    else
        event->ignore();
}

void Splash::onTimer2()
{
    ++ticks_;
    if (ticks_ > 6) {
        timer2_->stop();
        ticks_ = 0;
        timer1_->start();
    }
}

void Splash::onTimer1()
{
    timer2_->stop();
    timer1_->stop();
    handingOver_ = true;
    close();
    Q_EMIT handOver();
}
