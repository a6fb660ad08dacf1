#pragma once
#include <QCoreApplication>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPoint>
#include <QToolTip>
#include <QVariant>

// An entry box whose text was refused says why: a red frame over its border,
// the reason as its tooltip, shown at once under the box, and the reason on
// its window's refusal line, which stays readable when the tip is gone (a
// focus change or the pointer closes it). The mark stays until the operator
// edits the text or the entry is accepted. Header-only so that the core
// library itself needs no widgets.
namespace RefusedEntry {

inline constexpr char kReasonProperty[] = "refusedBecause";
inline constexpr char kToolTipProperty[] = "toolTipBeforeRefusal";
inline constexpr char kFrameName[] = "RefusedFrame";
inline constexpr char kLineName[] = "RefusalReason";
inline constexpr char kLineBoxProperty[] = "refusalOf"; // the box whose reason the line shows

// A window's refusal line: hidden while no entry of the window is refused.
inline QLabel* makeLine(QWidget* parent)
{
    auto* line = new QLabel(parent);
    line->setObjectName(QLatin1String(kLineName));
    QPalette palette = line->palette();
    palette.setColor(QPalette::WindowText, QColor(0xE0, 0x00, 0x00));
    line->setPalette(palette);
    line->hide();
    return line;
}

// The refusal line of the box's own window, if it has one (not one of a
// window inside it).
inline QLabel* lineFor(const QLineEdit* box)
{
    QWidget* window = box->window();
    for (QLabel* line : window->findChildren<QLabel*>(QLatin1String(kLineName)))
        if (line->window() == window)
            return line;
    return nullptr;
}

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

inline QString reason(const QLineEdit* box) { return box ? box->property(kReasonProperty).toString() : QString(); }

inline bool isMarked(const QLineEdit* box)
{
    return box && box->findChild<Frame*>(QLatin1String(kFrameName), Qt::FindDirectChildrenOnly);
}

inline void clear(QLineEdit* box)
{
    if (!box || !box->property(kReasonProperty).isValid())
        return;
    delete box->findChild<Frame*>(QLatin1String(kFrameName), Qt::FindDirectChildrenOnly);
    if (QLabel* line = lineFor(box); line && line->property(kLineBoxProperty).value<QObject*>() == box) {
        line->clear();
        line->hide();
        line->setProperty(kLineBoxProperty, QVariant());
    }
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
        QObject::connect(
            box, &QLineEdit::textEdited, box, [box] { clear(box); }, Qt::SingleShotConnection);
    }
    box->setProperty(kReasonProperty, why);
    box->setToolTip(why);
    if (QLabel* line = lineFor(box)) {
        line->setText(QCoreApplication::translate("RefusedEntry", "输入被拒绝：%1").arg(why));
        line->setProperty(kLineBoxProperty, QVariant::fromValue(static_cast<QObject*>(box)));
        line->show();
    }
    if (box->isVisible())
        QToolTip::showText(box->mapToGlobal(QPoint(0, box->height())), why, box);
}

} // namespace RefusedEntry
