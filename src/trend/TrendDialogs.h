#pragma once
#include <QDateTime>
#include <QImage>
#include <QObject>
#include <QPointer>
#include <memory>

class QDialog;
class QPrinter;
class QWidget;

// The two modeless dialogs of a trend window's function bar, owned by the
// view: F3's output choice (printer, PDF or PNG of the window as it was when
// the key was pressed, or the samples as CSV) and F5's time choice.
class TrendDialogs : public QObject {
    Q_OBJECT
public:
    explicit TrendDialogs(QWidget* owner);
    ~TrendDialogs() override;

    // "打印": shows the choice (or raises the one already open) for `image`.
    void openPrint(const QImage& image);
    // "选择": shows the date and time choice (or raises the one already open).
    void openSelect();

signals:
    void timeChosen(const QDateTime& when);
    void csvExportRequested();

private:
    void saveAs(const QString& filter, const QString& suffix);
    // A print or save that failed, said as the CSV export says it.
    void tellFailure(const QString& title, const QString& text);

    QWidget* owner_;
    QPointer<QDialog> printDialog_;
    QPointer<QDialog> selectDialog_;
    QPointer<QDialog> printerDialog_; // refers to printer_
    std::unique_ptr<QPrinter> printer_;
    QImage printImage_;
};
