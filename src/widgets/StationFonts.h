#pragma once
#include <QFont>

// Numbers on the station's panels are set in a monospaced face, so digits
// line up and a changing value does not make its label jitter.
inline QFont digitFont(int pointSize, bool bold)
{
    QFont font(QStringLiteral("DejaVu Sans Mono"));
    font.setStyleHint(QFont::Monospace);
    font.setPointSize(pointSize);
    font.setBold(bold);
    return font;
}
