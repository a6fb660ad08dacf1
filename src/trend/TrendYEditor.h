#pragma once
#include "TrendScale.h"

#include <QObject>

class QHBoxLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

// The Y-range editor of a trend window: Label9 "Y最大" with YKD, Label10
// "Y最小" with YKD1 (shown only where the window has one) and Command26
// "修改Y", appended to the function frame's layout and hidden until opened.
class TrendYEditor : public QObject {
    Q_OBJECT
public:
    // `scale` is the program-wide Y scale and must outlive the editor.
    TrendYEditor(QHBoxLayout* layout, QWidget* parent, bool minBoxShown, TrendScale& scale);

    // Shows the controls; the boxes keep whatever they hold.
    void open();

signals:
    // A range was accepted and the editor closed.
    void scaleChanged();

private:
    void apply();
    void close();

    TrendScale& scale_;
    bool minBoxShown_;
    QLabel* maxCaption_ = nullptr; // Label9
    QLineEdit* max_ = nullptr;     // YKD
    QLabel* minCaption_ = nullptr; // Label10
    QLineEdit* min_ = nullptr;     // YKD1
    QPushButton* apply_ = nullptr; // Command26
};
