#pragma once
#include <QLineEdit>
#include <QPoint>
#include <QToolTip>
#include <QVariant>

// An entry box whose text was refused says why: a red border, and the reason
// as its tooltip, shown at once under the box. The mark stays until the
// operator edits the text or the entry is accepted. Header-only so that the
// core library itself needs no widgets.
namespace RefusedEntry {

inline constexpr char kReasonProperty[] = "refusedBecause";
inline constexpr char kToolTipProperty[] = "toolTipBeforeRefusal";

inline QString reason(const QLineEdit* box)
{
    return box ? box->property(kReasonProperty).toString() : QString();
}

inline void clear(QLineEdit* box)
{
    if (!box || !box->property(kReasonProperty).isValid())
        return;
    box->setStyleSheet(QString());
    box->setToolTip(box->property(kToolTipProperty).toString());
    box->setProperty(kReasonProperty, QVariant());
    box->setProperty(kToolTipProperty, QVariant());
}

inline void mark(QLineEdit* box, const QString& why)
{
    if (!box)
        return;
    if (!box->property(kReasonProperty).isValid()) {
        box->setProperty(kToolTipProperty, box->toolTip());
        QObject::connect(box, &QLineEdit::textEdited, box, [box] { clear(box); }, Qt::SingleShotConnection);
    }
    box->setProperty(kReasonProperty, why);
    // Only the border: the background stays the palette's (focus colour).
    box->setStyleSheet(QStringLiteral("QLineEdit { border: 2px solid #E00000; }"));
    box->setToolTip(why);
    if (box->isVisible())
        QToolTip::showText(box->mapToGlobal(QPoint(0, box->height())), why, box);
}

} // namespace RefusedEntry
