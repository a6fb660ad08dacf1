#pragma once
#include <QGroupBox>

// The alarm and break settings beside the process values: for each of the
// eight settings its caption, the instrument's current value D_4W_i, the
// entry box T_3RW_i and its "修改" button, in two rows.
class AlarmSettingsPanel : public QGroupBox {
    Q_OBJECT
public:
    explicit AlarmSettingsPanel(QWidget* parent = nullptr);
};
