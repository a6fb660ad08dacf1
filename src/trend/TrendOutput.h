#pragma once
#include <QImage>
#include <QString>
#include <memory>

class QPrinter;
class QWidget;

// Printing and export of a trend window (F3): the window as the operator
// sees it, as an image, onto a printer page, a PDF page or a PNG file.
namespace TrendOutput {
// The window holding `widget`, rendered at screen resolution.
QImage capture(QWidget* widget);
// A landscape A4 printer at high resolution: the window is wider than tall,
// so it fills the page across rather than its top third.
std::unique_ptr<QPrinter> makePrinter();
// Draws the image as large as fits on the printer's page.
bool print(const QImage& image, QPrinter& printer);
// By the path's suffix: ".pdf" gives a one-page landscape A4 PDF, anything
// else a PNG. The file appears only when complete: a failed write leaves
// whatever was at the path as it was, and `error` says why.
bool writeFile(const QImage& image, const QString& path, QString* error = nullptr);
} // namespace TrendOutput
