#pragma once
#include <QAbstractButton>
#include <QApplication>
#include <QEvent>
#include <QKeyEvent>
#include <QPointer>
#include <QShortcut>
#include <QWidget>

// Esc pressed while a popup (a dropped choice list, a calendar) is open is
// meant for the popup. A dropped list closes itself when asked whether the
// key is a shortcut, without claiming the key, so a window's Esc shortcut
// then still fires: closing the station or a window with unsent edits.
// Header-only so that the core library itself needs no widgets.
namespace PopupKeys {

class EscapeToPopup final : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        // Seen before the popup's own filter: claim the key for the popup.
        if (event->type() == QEvent::ShortcutOverride && QApplication::activePopupWidget()
            && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape)
            event->accept();
        return QObject::eventFilter(watched, event);
    }
};

// Makes Esc with a popup open the popup's alone, for the whole application;
// windows with an Esc shortcut call it once (repeated calls do nothing).
inline void routeEscapeToPopups()
{
    static QPointer<EscapeToPopup> filter;
    if (filter || !qApp)
        return;
    filter = new EscapeToPopup(qApp);
    qApp->installEventFilter(filter);
}

// For a window's Esc handler: true when it closed an open popup, and the
// handler must then do nothing else.
inline bool closeOpenPopup()
{
    QWidget* popup = QApplication::activePopupWidget();
    if (!popup)
        return false;
    popup->close();
    return true;
}

// A window's Esc: closes an open popup, or else clicks `button` (the
// window's return or exit button), wherever the focus is in the window.
inline QShortcut* escapeClicks(QWidget* window, QAbstractButton* button)
{
    routeEscapeToPopups();
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), window);
    escape->setContext(Qt::WindowShortcut);
    QObject::connect(escape, &QShortcut::activated, button, [button] {
        if (!closeOpenPopup())
            button->click();
    });
    return escape;
}

} // namespace PopupKeys
