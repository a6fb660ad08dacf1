#pragma once
#include "MonitorTables.h"

#include <QColor>

class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

// Widget factories shared by the main window's panels, so that every value
// label, state label and entry row looks alike.
namespace PanelWidgets {

// A row caption ("报警1值").
QLabel* caption(const QString& text, QWidget* parent);
// A read-only value display: sunken, right-aligned, fixed-pitch digits.
QLabel* valueLabel(const char* name, QWidget* parent);
// A large value display (PV, SV, OP).
QLabel* bigValueLabel(const char* name, QWidget* parent);
// A state label: centred text on the quiet colour, at least as wide as
// `widest`, the longest text it can show.
QLabel* stateLabel(const char* name, const QString& text, const QString& widest, QWidget* parent);

// The box and button of one entry row, named after the row. The button
// starts hidden but keeps its place, so that revealing it does not shift
// the panel under the operator's pointer.
struct EntryWidgets {
    QLineEdit* box = nullptr;
    QPushButton* button = nullptr;
};
EntryWidgets entry(const MonitorTables::EditRow& row, QWidget* parent);

// A hidden widget that keeps its place in the layout.
void keepPlaceWhenHidden(QWidget* widget);

// Hides a widget without handing its focus to the next widget of the tab
// chain (which, for an entry box, would reveal that box's button): the focus
// is parked on the window first.
void hideWithoutPassingFocus(QWidget* widget);

// Background of a read-only setting value, set apart from the white entry
// boxes beside it.
QColor readOnlyValue();

// Colours of a value label while the instrument answers and while it does not.
QColor normalText();
QColor staleText();

} // namespace PanelWidgets
