#include "ValuePanel.h"
#include "MonitorTables.h"
#include "PanelWidgets.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace {
QLabel* bigCaption(const QString& text, QWidget* parent, Qt::Alignment alignment = Qt::AlignLeft)
{
    auto* label = new QLabel(text, parent);
    QFont font = label->font();
    font.setBold(true);
    label->setFont(font);
    label->setAlignment(alignment | Qt::AlignBottom);
    return label;
}
} // namespace

ValuePanel::ValuePanel(QWidget* parent) : QGroupBox(tr("过程值"), parent)
{
    setObjectName(QStringLiteral("ValuePanel"));
    pv_ = PanelWidgets::bigValueLabel("D_3W_0", this);
    op_ = PanelWidgets::bigValueLabel("D_3W_1", this);
    sv_ = PanelWidgets::bigValueLabel("D_3W_2", this);

    const MonitorTables::EditRow* svRow = MonitorTables::editRowForBox(0);
    const PanelWidgets::EntryWidgets entry = PanelWidgets::entry(*svRow, this);
    svBox_ = entry.box;
    svButton_ = entry.button;
    svBox_->setPlaceholderText(tr("新SV"));

    // A faceplate: PV, then SV with its entry, then OP, one above the other.
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(8, 4, 8, 8);
    grid->setHorizontalSpacing(4);
    grid->setVerticalSpacing(2);
    grid->addWidget(bigCaption(tr("PV值"), this), 0, 0);
    grid->addWidget(pv_, 1, 0, 1, 2);
    grid->addWidget(bigCaption(MonitorTables::shown(svRow->caption), this), 2, 0);
    grid->addWidget(sv_, 3, 0, 1, 2);
    auto* svEntry = new QHBoxLayout;
    svEntry->setSpacing(4);
    svEntry->addStretch(1);
    svEntry->addWidget(svBox_);
    svEntry->addWidget(svButton_);
    grid->addLayout(svEntry, 4, 0, 1, 2);
    grid->addWidget(bigCaption(tr("OP值"), this), 5, 0);
    grid->addWidget(bigCaption(QStringLiteral("%"), this, Qt::AlignRight), 5, 1);
    grid->addWidget(op_, 6, 0, 1, 2);
    grid->setRowMinimumHeight(5, 24);
}
