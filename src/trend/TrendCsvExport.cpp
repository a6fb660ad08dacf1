#include "TrendCsvExport.h"
#include "CommonTexts.h"

#include "StationClock.h"
#include "TrendGeometry.h"
#include "TrendLog.h"

#include <QButtonGroup>
#include <QDateTimeEdit>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QSaveFile>
#include <QThread>
#include <QVBoxLayout>
#include <algorithm>
#include <atomic>

struct TrendCsvExport::Job {
    ExportRequest request;
    QString path;
    std::atomic_bool cancel{false};
    ExportResult result; // written by the worker, read after it finished
};

namespace {
HistorySecond secondOf(double date, double time)
{
    return historySecondOf(OleTime::toDate(date), OleTime::toTime(time));
}

QDateTime localOf(HistorySecond second) { return TimeText::fromText(historySecondText(second)); }

// The F5 chooser's form of a moment.
QDateTimeEdit* makeTimeEdit(const QString& name, const QDateTime& when, QWidget* parent)
{
    auto* edit = new QDateTimeEdit(when, parent);
    edit->setObjectName(name);
    edit->setDisplayFormat(TimeText::format());
    edit->setCalendarPopup(true);
    return edit;
}
} // namespace

std::optional<TrendCsvExport::Span> TrendCsvExport::pageSpan(const TrendBuffer& buffer, const TrendViewState& view)
{
    if (view.sampleStep <= 0.0f)
        return std::nullopt;
    const int first = std::max(1, view.firstSlot + TrendGeometry::kSlotAtOrigin);
    const int acrossChart = int(double(TrendGeometry::kChartWidth) / double(view.sampleStep));
    const int last = std::min({int(view.sampleCursor), first + acrossChart, kTrendSlots - 1});
    std::optional<Span> span;
    for (int slot = first; slot <= last; ++slot) {
        if (buffer.sampleDate[slot] <= 0.0) // a cleared slot: nothing stored there
            continue;
        const HistorySecond s = secondOf(buffer.sampleDate[slot], buffer.sampleTime[slot]);
        if (!span)
            span = Span{s, s};
        span->from = std::min(span->from, s);
        span->to = std::max(span->to, s);
    }
    return span;
}

TrendCsvExport::TrendCsvExport(QWidget* owner, HistoryRing ring) : QObject(owner), owner_(owner), ring_(ring) {}

TrendCsvExport::~TrendCsvExport()
{
    if (thread_) {
        job_->cancel = true;
        thread_->wait();
        delete thread_;
    }
}

void TrendCsvExport::openChoice(const QString& databasePath, std::optional<Span> page)
{
    for (QWidget* open : {static_cast<QWidget*>(progress_.data()), static_cast<QWidget*>(choice_.data())}) {
        if (open && open->isVisible()) {
            open->raise();
            open->activateWindow();
            return;
        }
    }
    if (databasePath.isEmpty()) {
        auto* box = new QMessageBox(QMessageBox::Warning, CommonText::exportCsv(), tr("没有历史数据库"),
                                    QMessageBox::Ok, owner_);
        box->setObjectName(QStringLiteral("csvError"));
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->open();
        return;
    }
    auto* dialog = new QDialog(owner_);
    dialog->setObjectName(QStringLiteral("csvDialog"));
    dialog->setWindowTitle(CommonText::exportCsv());
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    auto* layout = new QVBoxLayout(dialog);
    auto* pageChoice = new QRadioButton(tr("当前页面"), dialog);
    pageChoice->setObjectName(QStringLiteral("csvPage"));
    auto* rangeChoice = new QRadioButton(tr("时间范围"), dialog);
    rangeChoice->setObjectName(QStringLiteral("csvRange"));
    auto* group = new QButtonGroup(dialog);
    group->addButton(pageChoice);
    group->addButton(rangeChoice);
    if (page)
        pageChoice->setText(tr("当前页面 (%1 - %2)").arg(historySecondText(page->from), historySecondText(page->to)));
    pageChoice->setEnabled(page.has_value());
    (page ? pageChoice : rangeChoice)->setChecked(true);

    const QDateTime now = StationClock::now();
    auto* from = makeTimeEdit(QStringLiteral("csvFrom"), page ? localOf(page->from) : now.addSecs(-3600), dialog);
    auto* to = makeTimeEdit(QStringLiteral("csvTo"), page ? localOf(page->to) : now, dialog);
    auto* times = new QFormLayout;
    times->addRow(tr("从"), from);
    times->addRow(tr("到"), to);
    layout->addWidget(pageChoice);
    layout->addWidget(rangeChoice);
    layout->addLayout(times);
    for (QWidget* w : {static_cast<QWidget*>(from), static_cast<QWidget*>(to)}) {
        w->setEnabled(rangeChoice->isChecked());
        connect(rangeChoice, &QRadioButton::toggled, w, &QWidget::setEnabled);
    }

    auto* buttons = new QDialogButtonBox(dialog);
    buttons->addButton(tr("确定"), QDialogButtonBox::AcceptRole)->setObjectName(QStringLiteral("csvOk"));
    buttons->addButton(CommonText::cancel(), QDialogButtonBox::RejectRole)->setObjectName(QStringLiteral("csvCancel"));
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    connect(dialog, &QDialog::accepted, this, [this, databasePath, page, pageChoice, from, to] {
        ExportRequest request;
        request.databasePath = databasePath;
        request.ring = ring_;
        if (pageChoice->isChecked() && page) {
            request.from = page->from;
            request.to = page->to;
        } else {
            // Whole seconds, in either order.
            const HistorySecond a = historySecondOf(from->date(), from->time());
            const HistorySecond b = historySecondOf(to->date(), to->time());
            request.from = std::min(a, b);
            request.to = std::max(a, b);
        }
        choosePath(request);
    });
    choice_ = dialog;
    dialog->show();
}

void TrendCsvExport::choosePath(const ExportRequest& request)
{
    if (!testPath_.isEmpty()) {
        start(request, testPath_);
        return;
    }
    auto* files = new QFileDialog(owner_, CommonText::exportCsv(), QString(), QStringLiteral("CSV (*.csv)"));
    files->setAttribute(Qt::WA_DeleteOnClose);
    files->setAcceptMode(QFileDialog::AcceptSave);
    files->setDefaultSuffix(QStringLiteral("csv"));
    connect(files, &QFileDialog::fileSelected, this, [this, request](const QString& path) { start(request, path); });
    files->open();
}

bool TrendCsvExport::start(const ExportRequest& request, const QString& path)
{
    if (thread_)
        return false;
    auto job = std::make_shared<Job>();
    job->request = request;
    job->path = path;
    job_ = job;

    auto* progress = new QProgressDialog(tr("正在导出CSV..."), CommonText::cancel(), 0, 100, owner_);
    progress->setObjectName(QStringLiteral("csvProgress"));
    progress->setWindowTitle(CommonText::exportCsv());
    progress->setAttribute(Qt::WA_DeleteOnClose);
    progress->setAutoClose(false);
    progress->setAutoReset(false);
    progress->setMinimumDuration(0);
    progress->setValue(0);
    connect(progress, &QProgressDialog::canceled, this, &TrendCsvExport::cancel);
    progress_ = progress;
    progress->show();

    // The worker owns the file from open to commit; the GUI thread only sees
    // progress (queued, dropped once this object is gone) and the result.
    thread_ = QThread::create([this, job] {
        QSaveFile file(job->path);
        if (!file.open(QIODevice::WriteOnly)) {
            job->result = {ExportResult::Status::WriteFailed, 0,
                           CommonText::cannotWrite(job->path, file.errorString())};
            return;
        }
        const auto report = [this](qint64 written, qint64 total) {
            QMetaObject::invokeMethod(
                this, [this, written, total] { progressed(written, total); }, Qt::QueuedConnection);
        };
        job->result = HistoryExport::run(job->request, file, report, &job->cancel);
        if (!job->result.ok()) {
            file.cancelWriting();
        } else if (!file.commit()) {
            job->result.status = ExportResult::Status::WriteFailed;
            job->result.error = CommonText::cannotWrite(job->path, file.errorString());
        }
    });
    thread_->setObjectName(QStringLiteral("csvExport"));
    connect(thread_, &QThread::finished, this, &TrendCsvExport::done);
    thread_->start();
    return true;
}

void TrendCsvExport::cancel()
{
    if (job_)
        job_->cancel = true;
}

void TrendCsvExport::progressed(qint64 written, qint64 total)
{
    if (progress_ && total > 0)
        progress_->setValue(int(std::min<qint64>(100, written * 100 / total)));
}

void TrendCsvExport::done()
{
    thread_->wait();
    delete thread_;
    thread_ = nullptr;
    const ExportResult result = job_->result;
    job_.reset();
    if (progress_)
        progress_->close();
    switch (result.status) {
    case ExportResult::Status::Done:
        qCInfo(lcTrend) << "CSV export:" << result.rows << "rows," << result.skipped << "skipped";
        if (result.skipped > 0) {
            // The file is written, but short of rows the history holds: say so.
            auto* box = new QMessageBox(QMessageBox::Information, CommonText::exportCsv(),
                                        tr("已导出 %1 行；跳过 %2 行无效数据（时间不可能或数值不是有限数）")
                                            .arg(result.rows)
                                            .arg(result.skipped),
                                        QMessageBox::Ok, owner_);
            box->setObjectName(QStringLiteral("csvSkipped"));
            box->setAttribute(Qt::WA_DeleteOnClose);
            box->open();
        }
        break;
    case ExportResult::Status::Cancelled: qCInfo(lcTrend) << "CSV export cancelled"; break;
    case ExportResult::Status::DatabaseFailed:
    case ExportResult::Status::WriteFailed: {
        qCWarning(lcTrend) << "CSV export failed:" << result.error;
        auto* box = new QMessageBox(QMessageBox::Warning, CommonText::exportCsv(), tr("导出失败: %1").arg(result.error),
                                    QMessageBox::Ok, owner_);
        box->setObjectName(QStringLiteral("csvError"));
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->open();
        break;
    }
    }
    emit finished();
}
