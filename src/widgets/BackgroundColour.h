#pragma once
#include <QColor>
#include <QPalette>
#include <QWidget>

// Sets a widget's background colour through its palette (no style sheet, so
// fonts and borders stay as the window set them). Header-only so that the
// core library itself needs no widgets.
inline void setBackgroundColour(QWidget* widget, const QColor& colour)
{
    if (!widget)
        return;
    QPalette palette = widget->palette();
    if (palette.color(QPalette::Window) == colour && palette.color(QPalette::Base) == colour
        && widget->autoFillBackground())
        return;
    palette.setColor(QPalette::Window, colour);
    palette.setColor(QPalette::Base, colour);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

// Sets a widget's text colour the same way.
inline void setTextColour(QWidget* widget, const QColor& colour)
{
    if (!widget)
        return;
    QPalette palette = widget->palette();
    if (palette.color(QPalette::WindowText) == colour && palette.color(QPalette::Text) == colour)
        return;
    palette.setColor(QPalette::WindowText, colour);
    palette.setColor(QPalette::Text, colour);
    widget->setPalette(palette);
}

inline QColor backgroundColour(const QWidget* widget)
{
    return widget ? widget->palette().color(QPalette::Window) : QColor();
}
