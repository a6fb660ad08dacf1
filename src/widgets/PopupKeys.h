#pragma once
#include <QAbstractButton>
#include <QApplication>
#include <QEvent>
#include <QKeyEvent>
#include <QPointer>
#include <QShortcut>
#include <QToolTip>
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

// For a window's Esc handler: true when it closed an open popup or a tip
// on screen (a refused entry's reason), and the handler must then do
// nothing else. A tip is no popup: without this, Esc pressed to dismiss it
// would close the window, or end the station.
inline bool closeOpenPopup()
{
    if (QWidget* popup = QApplication::activePopupWidget()) {
        popup->close();
        return true;
    }
    if (QToolTip::isVisible()) {
        QToolTip::hideText();
        return true;
    }
    return false;
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
