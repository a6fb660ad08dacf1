#include "TrendOutput.h"

#include "TrendLog.h"

#include <QFileInfo>
#include <QPageLayout>
#include <QPainter>
#include <QPrinter>
#include <QWidget>

namespace TrendOutput {

QImage capture(QWidget* widget)
{
    if (!widget)
        return {};
    return widget->window()->grab().toImage();
}

std::unique_ptr<QPrinter> makePrinter()
{
    auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    printer->setPageSize(QPageSize(QPageSize::A4));
    printer->setPageOrientation(QPageLayout::Landscape);
    return printer;
}

bool print(const QImage& image, QPrinter& printer)
{
    if (image.isNull())
        return false;
    QPainter painter;
    if (!painter.begin(&printer)) {
        qCWarning(lcTrend) << "cannot start the print job";
        return false;
    }
    const QRect page = painter.viewport();
    QSize target = image.size();
    target.scale(page.size(), Qt::KeepAspectRatio);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(QRect(page.topLeft(), target), image);
    return painter.end();
}

bool writeFile(const QImage& image, const QString& path)
{
    if (image.isNull() || path.isEmpty())
        return false;
    if (QFileInfo(path).suffix().compare(QLatin1String("pdf"), Qt::CaseInsensitive) == 0) {
        const auto printer = makePrinter();
        printer->setOutputFormat(QPrinter::PdfFormat);
        printer->setOutputFileName(path);
        return print(image, *printer);
    }
    const bool ok = image.save(path, "PNG");
    if (!ok)
        qCWarning(lcTrend) << "cannot write" << path;
    return ok;
}

} // namespace TrendOutput
