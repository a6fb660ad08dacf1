#pragma once
#include "MonitorTables.h"

#include <QHash>
#include <QObject>

class LinkClient;
class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;
class WriteAudit;
struct LiveImage;

// What the operator sends to the instrument from the main window: the entry
// rows (set value, alarm and break settings, manual output) and the three
// mode switches. Binds to the panels' widgets by their names under `root`,
// so the panels stay plain views.
//
// Entry rows: focus colours the box light yellow and reveals its button
// (the manual output box only takes the colour); leaving the box turns it
// white and leaves the button shown. The button sends the row.
//
// Mode switches: a double click on a mode label reveals its button; a click
// writes the coil the other way from its polled state and hides the button
// again, so each reveal allows one toggle.
class OperatorCommands : public QObject {
    Q_OBJECT
public:
    OperatorCommands(LinkClient& link, const LiveImage& image, QWidget* root, QObject* parent = nullptr);

    // The send procedure of one row; true when a write was issued. A refused
    // entry writes nothing and leaves the button shown.
    bool send(const MonitorTables::EditRow& row);
    // One toggle of a mode row's coil.
    void toggle(const MonitorTables::ModeRow& row);
    // Writes and refused entries are journalled through `audit` when set.
    void setAudit(WriteAudit* audit) { audit_ = audit; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Entry {
        const MonitorTables::EditRow* row = nullptr;
        QLineEdit* box = nullptr;
        QPushButton* button = nullptr;
    };
    struct Mode {
        const MonitorTables::ModeRow* row = nullptr;
        QLabel* label = nullptr;
        QPushButton* button = nullptr;
    };

    LinkClient& link_;
    const LiveImage& image_;
    WriteAudit* audit_ = nullptr;
    QHash<QObject*, Entry> entries_; // by box
    QHash<QObject*, Mode> modes_;    // by label
    QHash<const MonitorTables::EditRow*, Entry> entryOf_;
    QHash<const MonitorTables::ModeRow*, Mode> modeOf_;
};
