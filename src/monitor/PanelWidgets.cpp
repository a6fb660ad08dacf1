#include "PanelWidgets.h"
#include "BackgroundColour.h"
#include "StateColours.h"
#include "StationFonts.h"

#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>

namespace PanelWidgets {

QLabel* caption(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return label;
}

QLabel* valueLabel(const char* name, QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setFrameShape(QFrame::Panel);
    label->setFrameShadow(QFrame::Sunken);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    label->setMargin(2);
    label->setFont(digitFont(10, false));
    label->setMinimumWidth(QFontMetrics(label->font()).horizontalAdvance(QStringLiteral("-1999")) + 8);
    setBackgroundColour(label, readOnlyValue());
    label->setText(QStringLiteral("0"));
    return label;
}

QLabel* bigValueLabel(const char* name, QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setFrameShape(QFrame::Panel);
    label->setFrameShadow(QFrame::Sunken);
    label->setLineWidth(2);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    label->setMargin(4);
    label->setFont(digitFont(26, true));
    const QFontMetrics metrics(label->font());
    label->setMinimumSize(metrics.horizontalAdvance(QStringLiteral("-1999.9")) + 16, metrics.height() + 8);
    setBackgroundColour(label, StateColour::value());
    label->setText(QStringLiteral("0"));
    return label;
}

QLabel* stateLabel(const char* name, const QString& text, const QString& widest, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setFrameShape(QFrame::Panel);
    label->setFrameShadow(QFrame::Sunken);
    label->setAlignment(Qt::AlignCenter);
    label->setMargin(3);
    label->setMinimumWidth(QFontMetrics(label->font()).horizontalAdvance(widest) + 16);
    setBackgroundColour(label, StateColour::quiet());
    return label;
}

EntryWidgets entry(const MonitorTables::EditRow& row, QWidget* parent)
{
    EntryWidgets w;
    w.box = new QLineEdit(parent);
    w.box->setObjectName(QStringLiteral("T_3RW_%1").arg(row.box));
    w.box->setAlignment(Qt::AlignRight);
    w.box->setFont(digitFont(10, false));
    w.box->setFixedWidth(QFontMetrics(w.box->font()).horizontalAdvance(QStringLiteral("-1999.9")) + 8);
    const EntryRule::Bounds bounds = EntryRule::effective(MonitorTables::bounds(row));
    w.box->setToolTip(QCoreApplication::translate("PanelWidgets", "%1 至 %2").arg(bounds.lower).arg(bounds.upper));
    setBackgroundColour(w.box, StateColour::white());
    w.button = new QPushButton(MonitorTables::shown(row.buttonText), parent);
    w.button->setObjectName(QString::fromLatin1(row.button));
    w.button->setAutoDefault(false);
    w.button->setFixedWidth(QFontMetrics(w.button->font()).horizontalAdvance(w.button->text()) + 14);
    keepPlaceWhenHidden(w.button);
    w.button->hide();
    return w;
}

void keepPlaceWhenHidden(QWidget* widget)
{
    QSizePolicy policy = widget->sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    widget->setSizePolicy(policy);
}

void hideWithoutPassingFocus(QWidget* widget)
{
    if (widget->isHidden())
        return;
    // Not on the parent: a group box passes its focus on to its first child.
    if (widget->hasFocus())
        widget->window()->setFocus(Qt::OtherFocusReason);
    widget->hide();
}

QColor readOnlyValue() { return QColor(0xE4, 0xEC, 0xF4); }
QColor normalText() { return QColor(Qt::black); }
QColor staleText() { return QColor(0x70, 0x70, 0x70); }

} // namespace PanelWidgets
