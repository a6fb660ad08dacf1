#include "TrendDialogs.h"
#include "CommonTexts.h"

#include "StationClock.h"
#include "TrendOutput.h"

#include <QDateTimeEdit>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
QPushButton* makeButton(const QString& name, const QString& text, QWidget* parent)
{
    auto* button = new QPushButton(text, parent);
    button->setObjectName(name);
    button->setAutoDefault(false);
    return button;
}

// Brings an open dialog to the front; false when there is none.
bool raise(QDialog* dialog)
{
    if (!dialog)
        return false;
    dialog->raise();
    dialog->activateWindow();
    return true;
}
} // namespace

TrendDialogs::TrendDialogs(QWidget* owner) : QObject(owner), owner_(owner) {}

TrendDialogs::~TrendDialogs()
{
    // The printer dialog refers to the printer, which goes first otherwise.
    delete printerDialog_.data();
}

void TrendDialogs::openPrint(const QImage& image)
{
    // The page shows the window as it was when F3 was pressed.
    printImage_ = image;
    if (raise(printDialog_))
        return;
    auto* dialog = new QDialog(owner_);
    dialog->setObjectName(QStringLiteral("printDialog"));
    dialog->setWindowTitle(tr("打印"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    auto* layout = new QVBoxLayout(dialog);
    auto* toPrinter = makeButton(QStringLiteral("printToPrinter"), tr("打印..."), dialog);
    auto* toPdf = makeButton(QStringLiteral("printToPdf"), tr("保存为PDF..."), dialog);
    auto* toPng = makeButton(QStringLiteral("printToPng"), tr("保存为PNG..."), dialog);
    auto* toCsv = makeButton(QStringLiteral("printToCsv"), CommonText::exportCsv(), dialog);
    auto* cancel = makeButton(QStringLiteral("printCancel"), CommonText::cancel(), dialog);
    for (QPushButton* b : {toPrinter, toPdf, toPng, toCsv, cancel})
        layout->addWidget(b);
    connect(cancel, &QPushButton::clicked, dialog, &QDialog::reject);
    connect(toPrinter, &QPushButton::clicked, this, [this, dialog] {
        dialog->accept();
        if (!printer_)
            printer_ = TrendOutput::makePrinter();
        auto* printDialog = new QPrintDialog(printer_.get(), owner_);
        printDialog->setAttribute(Qt::WA_DeleteOnClose);
        connect(printDialog, &QDialog::accepted, this, [this] {
            if (TrendOutput::print(printImage_, *printer_))
                return;
            const QString file = printer_->outputFileName();
            tellFailure(tr("打印"),
                        file.isEmpty() ? tr("打印失败：无法开始打印") : tr("打印失败：无法写入 %1").arg(file));
        });
        printerDialog_ = printDialog;
        printDialog->open();
    });
    connect(toPdf, &QPushButton::clicked, this, [this, dialog] {
        dialog->accept();
        saveAs(QStringLiteral("PDF (*.pdf)"), QStringLiteral("pdf"));
    });
    connect(toPng, &QPushButton::clicked, this, [this, dialog] {
        dialog->accept();
        saveAs(QStringLiteral("PNG (*.png)"), QStringLiteral("png"));
    });
    connect(toCsv, &QPushButton::clicked, this, [this, dialog] {
        dialog->accept();
        emit csvExportRequested();
    });
    printDialog_ = dialog;
    dialog->show();
}

void TrendDialogs::saveAs(const QString& filter, const QString& suffix)
{
    auto* files = new QFileDialog(owner_, tr("保存"), QString(), filter);
    files->setAttribute(Qt::WA_DeleteOnClose);
    files->setAcceptMode(QFileDialog::AcceptSave);
    files->setDefaultSuffix(suffix);
    files->setObjectName(QStringLiteral("printSaveDialog"));
    connect(files, &QFileDialog::fileSelected, this, [this](const QString& path) {
        QString error;
        if (!TrendOutput::writeFile(printImage_, path, &error))
            tellFailure(tr("保存"), tr("保存失败：%1").arg(error));
    });
    files->open();
}

void TrendDialogs::tellFailure(const QString& title, const QString& text)
{
    auto* box = new QMessageBox(QMessageBox::Warning, title, text, QMessageBox::Ok, owner_);
    box->setObjectName(QStringLiteral("printError"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

void TrendDialogs::openSelect()
{
    if (raise(selectDialog_))
        return;
    auto* dialog = new QDialog(owner_);
    dialog->setObjectName(QStringLiteral("selectDialog"));
    dialog->setWindowTitle(tr("选择"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    auto* layout = new QVBoxLayout(dialog);
    auto* when = new QDateTimeEdit(StationClock::now(), dialog);
    when->setObjectName(QStringLiteral("selectTime"));
    when->setDisplayFormat(TimeText::format());
    when->setCalendarPopup(true);
    layout->addWidget(when);
    auto* buttons = new QDialogButtonBox(dialog);
    auto* ok = buttons->addButton(tr("确定"), QDialogButtonBox::AcceptRole);
    ok->setObjectName(QStringLiteral("selectOk"));
    buttons->addButton(CommonText::cancel(), QDialogButtonBox::RejectRole)
        ->setObjectName(QStringLiteral("selectCancel"));
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    connect(dialog, &QDialog::accepted, this, [this, when] { emit timeChosen(when->dateTime()); });
    selectDialog_ = dialog;
    dialog->show();
}
