#pragma once
#include <QWidget>

class QTimer;

// The start-up splash "frmSplash": shown about 1.5 s (seven 200 ms ticks,
// then one 100 ms tick), keys ignored, then handOver().
class Splash : public QWidget {
    Q_OBJECT
public:
    explicit Splash(QWidget* parent = nullptr);

Q_SIGNALS:
    void handOver();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void onTimer2();
    void onTimer1();

    QTimer* timer1_ = nullptr; // 100 ms, hand-over
    QTimer* timer2_ = nullptr; // 200 ms, tick counter
    qint16 ticks_ = 0;
    bool started_ = false;
    bool handingOver_ = false;
};
