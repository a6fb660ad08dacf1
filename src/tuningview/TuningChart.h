#pragma once
#include <QWidget>

#include <vector>

// Measured PV, the model's PV and OP over a step test or a history period,
// drawn with QPainter: PV on the left scale, OP (0..100 %) on the right.
class TuningChart : public QWidget {
    Q_OBJECT
public:
    explicit TuningChart(QWidget* parent = nullptr);

    // Samples one `period` apart; an empty model leaves its curve out.
    void setData(std::vector<double> pv, std::vector<double> op, std::vector<double> modelPv, double period);
    void clear();

    QSize sizeHint() const override { return {640, 300}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::vector<double> pv_;
    std::vector<double> op_;
    std::vector<double> model_;
    double period_ = 1.0;
};
