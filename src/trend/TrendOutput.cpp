#include "TrendOutput.h"
#include "CommonTexts.h"

#include "TrendLog.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QPageLayout>
#include <QPainter>
#include <QPdfWriter>
#include <QPrinter>
#include <QSaveFile>
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

namespace {
// The image as large as the page allows, keeping its proportions.
void drawFitted(QPainter& painter, const QImage& image)
{
    const QRect page = painter.viewport();
    QSize target = image.size();
    target.scale(page.size(), Qt::KeepAspectRatio);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(QRect(page.topLeft(), target), image);
}
} // namespace

bool print(const QImage& image, QPrinter& printer)
{
    if (image.isNull())
        return false;
    QPainter painter;
    if (!painter.begin(&printer)) {
        qCWarning(lcTrend) << "cannot start the print job";
        return false;
    }
    drawFitted(painter, image);
    return painter.end();
}

namespace {
// One landscape A4 page, the image as large as fits.
bool paintPdf(const QImage& image, QIODevice& device)
{
    QPdfWriter pdf(&device);
    pdf.setPageSize(QPageSize(QPageSize::A4));
    pdf.setPageOrientation(QPageLayout::Landscape);
    QPainter painter;
    if (!painter.begin(&pdf))
        return false;
    drawFitted(painter, image);
    return painter.end();
}
} // namespace

bool writeFile(const QImage& image, const QString& path, QString* error)
{
    const auto fail = [&](const QString& why) {
        qCWarning(lcTrend) << "cannot write" << path << why;
        if (error)
            *error = CommonText::cannotWrite(path, why);
        return false;
    };
    if (image.isNull())
        return fail(QCoreApplication::translate("TrendOutput", "没有画面"));
    if (path.isEmpty())
        return fail(QCoreApplication::translate("TrendOutput", "没有文件名"));
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return fail(file.errorString());
    const bool pdf = QFileInfo(path).suffix().compare(QLatin1String("pdf"), Qt::CaseInsensitive) == 0;
    const bool drawn = pdf ? paintPdf(image, file) : image.save(&file, "PNG");
    if (!drawn || file.error() != QFileDevice::NoError) {
        const QString why = file.error() != QFileDevice::NoError ? file.errorString() : QString();
        file.cancelWriting();
        return fail(why.isEmpty() ? QCoreApplication::translate("TrendOutput", "图像未能写出") : why);
    }
    if (!file.commit())
        return fail(file.errorString());
    return true;
}

} // namespace TrendOutput
