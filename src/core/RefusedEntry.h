#pragma once
#include <QEvent>
#include <QLineEdit>
#include <QPainter>
#include <QPoint>
#include <QToolTip>
#include <QVariant>

// An entry box whose text was refused says why: a red frame over its border,
// and the reason as its tooltip, shown at once under the box. The mark stays
// until the operator edits the text or the entry is accepted. Header-only so
// that the core library itself needs no widgets.
namespace RefusedEntry {

inline constexpr char kReasonProperty[] = "refusedBecause";
inline constexpr char kToolTipProperty[] = "toolTipBeforeRefusal";
inline constexpr char kFrameName[] = "RefusedFrame";

// Drawn on top of the box rather than by a style sheet, which would replace
// the palette colours the windows give their boxes (focus, quiet).
class Frame final : public QWidget {
public:
    explicit Frame(QLineEdit* box) : QWidget(box)
    {
        setObjectName(QLatin1String(kFrameName));
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setFocusPolicy(Qt::NoFocus);
        setGeometry(box->rect());
        box->installEventFilter(this);
        show();
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Resize)
            setGeometry(static_cast<QWidget*>(watched)->rect());
        return false;
    }
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setPen(QPen(QColor(0xE0, 0x00, 0x00), 2));
        painter.drawRect(QRectF(rect()).adjusted(1, 1, -1, -1));
    }
};

inline QString reason(const QLineEdit* box)
{
    return box ? box->property(kReasonProperty).toString() : QString();
}

inline bool isMarked(const QLineEdit* box)
{
    return box && box->findChild<Frame*>(QLatin1String(kFrameName), Qt::FindDirectChildrenOnly);
}

inline void clear(QLineEdit* box)
{
    if (!box || !box->property(kReasonProperty).isValid())
        return;
    delete box->findChild<Frame*>(QLatin1String(kFrameName), Qt::FindDirectChildrenOnly);
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
        new Frame(box);
        QObject::connect(box, &QLineEdit::textEdited, box, [box] { clear(box); }, Qt::SingleShotConnection);
    }
    box->setProperty(kReasonProperty, why);
    box->setToolTip(why);
    if (box->isVisible())
        QToolTip::showText(box->mapToGlobal(QPoint(0, box->height())), why, box);
}

} // namespace RefusedEntry
