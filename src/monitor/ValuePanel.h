#pragma once
#include <QGroupBox>

class QLabel;
class QLineEdit;
class QPushButton;

// Top left of the main window: PV, SV and OP in large digits (D_3W_0,
// D_3W_2, D_3W_1 on the value colour) and the set-value entry T_3RW_0 with
// its "修改SV" button.
class ValuePanel : public QGroupBox {
    Q_OBJECT
public:
    explicit ValuePanel(QWidget* parent = nullptr);

    QLabel* pv() const { return pv_; }
    QLabel* op() const { return op_; }
    QLabel* sv() const { return sv_; }

private:
    QLabel* pv_ = nullptr;
    QLabel* op_ = nullptr;
    QLabel* sv_ = nullptr;
    QLineEdit* svBox_ = nullptr;
    QPushButton* svButton_ = nullptr;
};
