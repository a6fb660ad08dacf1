#include "ModePanel.h"
#include "MonitorTables.h"
#include "PanelWidgets.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

using namespace MonitorTables;

namespace {
const StateRow& stateRow(const char* name)
{
    for (const StateRow& row : stateRows())
        if (qstrcmp(row.label, name) == 0)
            return row;
    Q_UNREACHABLE();
}

QLabel* stateLabelFor(const StateRow& row, const QString& widest, QWidget* parent)
{
    QLabel* label = PanelWidgets::stateLabel(row.label, MonitorTables::shown(row.initialText), widest, parent);
    label->setVisible(row.initiallyVisible);
    if (!row.initiallyVisible)
        PanelWidgets::keepPlaceWhenHidden(label);
    return label;
}

QGroupBox* group(const char* name, const QString& title, QWidget* parent)
{
    auto* box = new QGroupBox(title, parent);
    box->setObjectName(QString::fromLatin1(name));
    return box;
}
} // namespace

ModePanel::ModePanel(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("ModePanel"));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);

    // Operating mode: label and switch per mode row, then the manual output.
    QGroupBox* modes = group("ModeFrame", tr("运行方式"), this);
    auto* modeGrid = new QGridLayout(modes);
    modeGrid->setContentsMargins(8, 4, 8, 6);
    modeGrid->setHorizontalSpacing(4);
    modeGrid->setVerticalSpacing(4);
    // The sizing texts are translated on their own: the widest text of a label
    // differs between languages.
    const QString modeWidest = tr("自整定开", "sizing: widest mode label text");
    for (const ModeRow& row : modeRows()) {
        const QString name = QStringLiteral("D_1RW_%1").arg(row.label);
        QLabel* label = stateLabelFor(stateRow(name.toLatin1().constData()), modeWidest, modes);
        label->setToolTip(tr("双击以切换"));
        auto* button = new QPushButton(MonitorTables::shown(row.buttonText), modes);
        button->setObjectName(QString::fromLatin1(row.button));
        button->setAutoDefault(false);
        PanelWidgets::keepPlaceWhenHidden(button);
        button->hide();
        modeGrid->addWidget(label, 0, 2 * row.label);
        modeGrid->addWidget(button, 1, 2 * row.label);
        modeLabels_[row.label] = label;
        modeButtons_[row.label] = button;
    }
    const EditRow* manualRow = editRowForBox(1);
    const PanelWidgets::EntryWidgets manual = PanelWidgets::entry(*manualRow, modes);
    manualBox_ = manual.box;
    manualButton_ = manual.button;
    manualBox_->setPlaceholderText(QStringLiteral("OP %"));
    PanelWidgets::keepPlaceWhenHidden(manualBox_);
    manualBox_->hide();
    modeGrid->setColumnMinimumWidth(6, 8);
    modeGrid->addWidget(manualBox_, 0, 7);
    modeGrid->addWidget(manualButton_, 1, 7);
    layout->addWidget(modes);

    // Alarm types and outputs: alarm 1 on the top row, alarm 2 below, then
    // the sensor faults, which show only while present.
    QGroupBox* alarms = group("AlarmStateFrame", tr("报警状态"), this);
    auto* alarmGrid = new QGridLayout(alarms);
    alarmGrid->setContentsMargins(8, 4, 8, 6);
    alarmGrid->setHorizontalSpacing(4);
    alarmGrid->setVerticalSpacing(4);
    const QString typeWidest = tr("报警1上偏差报警", "sizing: widest alarm type text");
    const QString stateWidest = tr("传感器开路", "sizing: widest alarm state text");
    for (const AlarmTypeRow& row : alarmTypeRows()) {
        QLabel* label = PanelWidgets::stateLabel(row.label, MonitorTables::shown(row.initialText), typeWidest, alarms);
        alarmGrid->addWidget(label, row.alarm, 0);
    }
    // Discrete inputs in pairs: the alarm outputs (1, 2), then the sensor
    // faults (open, short), each pair one column.
    for (const StateRow& row : stateRows())
        if (row.table == BitTable::Input)
            alarmGrid->addWidget(stateLabelFor(row, stateWidest, alarms), row.bit % 2, 1 + row.bit / 2);
    layout->addWidget(alarms);

    QGroupBox* aux = group("AuxFrame", tr("辅助通道"), this);
    auto* auxLayout = new QGridLayout(aux);
    auxLayout->setContentsMargins(8, 4, 8, 6);
    QLabel* auxValue = PanelWidgets::valueLabel("D_3W_3", aux);
    auxLayout->addWidget(PanelWidgets::caption(tr("辅助通道"), aux), 0, 0);
    auxLayout->addWidget(auxValue, 0, 1);
    auxLayout->setRowStretch(1, 1);
    layout->addWidget(aux);
}
