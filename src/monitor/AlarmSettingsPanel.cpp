#include "AlarmSettingsPanel.h"
#include "MonitorTables.h"
#include "PanelWidgets.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

AlarmSettingsPanel::AlarmSettingsPanel(QWidget* parent) : QGroupBox(tr("报警设定"), parent)
{
    setObjectName(QStringLiteral("AlarmFrame"));
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(6, 4, 6, 6);
    grid->setHorizontalSpacing(2);
    grid->setVerticalSpacing(4);

    // Each cell: caption, current value, entry box, button; a gap column
    // separates the cells.
    constexpr int kColumnsPerCell = 5;
    int cells = 0;
    for (const MonitorTables::EditRow& row : MonitorTables::editRows()) {
        if (row.place != MonitorTables::Place::AlarmFrame)
            continue;
        const int c = row.gridColumn * kColumnsPerCell;
        const PanelWidgets::EntryWidgets entry = PanelWidgets::entry(row, this);
        grid->addWidget(PanelWidgets::caption(MonitorTables::shown(row.caption), this), row.gridRow, c);
        grid->addWidget(PanelWidgets::valueLabel(row.valueLabel, this), row.gridRow, c + 1);
        if (row.entryBelow) {
            grid->addWidget(entry.box, row.gridRow + 1, c);
            grid->addWidget(entry.button, row.gridRow + 1, c + 1);
        } else {
            grid->addWidget(entry.box, row.gridRow, c + 2);
            grid->addWidget(entry.button, row.gridRow, c + 3);
        }
        grid->setColumnStretch(c + 4, 1);
        grid->setColumnMinimumWidth(c + 4, 4);
        cells = std::max(cells, row.gridColumn + 1);
    }
    // No gap after the last cell.
    grid->setColumnStretch(cells * kColumnsPerCell - 1, 0);
    grid->setColumnMinimumWidth(cells * kColumnsPerCell - 1, 0);
}
