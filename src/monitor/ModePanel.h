#pragma once
#include <QWidget>

class QLabel;
class QLineEdit;
class QPushButton;

// Below the trend: the mode labels D_1RW_0..2 with their switch buttons
// (hidden until the label is double-clicked), the manual output entry
// T_3RW_1 with "手动OP" (shown in manual mode only), the alarm type labels
// D_3W_6/7, the alarm outputs and sensor faults D_2R_0..3, and the
// auxiliary channel D_3W_3.
class ModePanel : public QWidget {
    Q_OBJECT
public:
    explicit ModePanel(QWidget* parent = nullptr);

private:
    QLabel* modeLabels_[3] = {};
    QPushButton* modeButtons_[3] = {};
    QLineEdit* manualBox_ = nullptr;
    QPushButton* manualButton_ = nullptr;
};
