#include "ParamSetBar.h"
#include "CommonTexts.h"
#include "WriteAudit.h"
#include "WriteLabels.h"
#include "ConfigLog.h"
#include "ParamDiffDialog.h"

#include "LinkClient.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QPointer>
#include <QProgressDialog>
#include <QPushButton>
#include <QThreadPool>

namespace {

// Reads through the link as before; writes through the journal's audited
// path, named and scaled as editing by hand names them, so a restore leaves
// the same trail.
class AuditedTarget final : public ParameterSet::Target {
public:
    AuditedTarget(LinkClient& link, WriteAudit* audit, QObject* requester)
        : link_(link, requester), client_(link), audit_(audit), requester_(requester)
    {
    }
    void write(int reg, qint32 value, WriteDone done) override
    {
        auditedWrite(audit_, client_, requester_, WriteRequest{WriteFn::Set_4X_D1, reg, value},
                     WriteLabels::forSetRow(*ParameterSet::rowFor(reg)), std::move(done));
    }
    void readAll(ReadDone done) override { link_.readAll(std::move(done)); }

private:
    ParameterSet::LinkTarget link_;
    LinkClient& client_;
    WriteAudit* audit_;
    QObject* requester_;
};

} // namespace

using namespace ParameterSet;

namespace {

// Runs `work` on the thread pool and `then` with its result on the GUI
// thread, unless `context` is gone by then.
template <class R> void offThread(QObject* context, std::function<R()> work, std::function<void(R)> then)
{
    QThreadPool::globalInstance()->start(
        [guard = QPointer<QObject>(context), work = std::move(work), then = std::move(then)] {
            R result = work();
            QMetaObject::invokeMethod(
                qApp,
                [guard, then, result = std::move(result)] {
                    if (guard)
                        then(result);
                },
                Qt::QueuedConnection);
        });
}

QString fileFilter() { return QCoreApplication::translate("ParamSetBar", "参数集 (*.json)"); }

} // namespace

ParamSetBar::ParamSetBar(LinkClient& link, QWidget* parent) : QWidget(parent), link_(link)
{
    setObjectName(QStringLiteral("ParamSetBar"));
    auto make = [this](const char* name, const char* caption, void (ParamSetBar::*slot)()) {
        auto* b = new QPushButton(tr(caption), this);
        b->setObjectName(QString::fromLatin1(name));
        b->setAutoDefault(false);
        connect(b, &QPushButton::clicked, this, slot);
        return b;
    };
    backupButton_ = make("Backup", QT_TR_NOOP("备份"), &ParamSetBar::backup);
    compareButton_ = make("Compare", QT_TR_NOOP("比较"), &ParamSetBar::compare);
    restoreButton_ = make("Restore", QT_TR_NOOP("恢复"), &ParamSetBar::restore);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    for (QPushButton* b : {backupButton_, compareButton_, restoreButton_})
        layout->addWidget(b);

    chooseFile = [this](FileUse use, const QString& suggestion) {
        return use == FileUse::Save ? QFileDialog::getSaveFileName(this, tr("备份参数"), suggestion, fileFilter())
                                    : QFileDialog::getOpenFileName(this, tr("选择参数集"), QString(), fileFilter());
    };
    confirm = [this](const QString& question) {
        return QMessageBox::question(this, tr("恢复参数"), question) == QMessageBox::Yes;
    };
    showDifferences = [this](bool restore, const QVector<Difference>& d,
                             const QString& heading) -> std::optional<QSet<int>> {
        ParamDiffDialog dialog(restore ? ParamDiffDialog::Mode::Restore : ParamDiffDialog::Mode::Compare, d, heading,
                               this);
        if (dialog.exec() != QDialog::Accepted)
            return std::nullopt;
        return dialog.checkedRegisters();
    };
    tell = [this](const QString& text, bool problem) {
        if (problem)
            QMessageBox::warning(this, tr("参数集"), text);
        else
            QMessageBox::information(this, tr("参数集"), text);
    };
}

ParamSetBar::~ParamSetBar() = default;

void ParamSetBar::setBusy(bool busy)
{
    busy_ = busy;
    for (QPushButton* b : {backupButton_, compareButton_, restoreButton_})
        b->setEnabled(!busy);
}

void ParamSetBar::done(const QString& text, bool problem)
{
    setBusy(false);
    if (!text.isEmpty())
        tell(text, problem);
    Q_EMIT finishedWork();
}

void ParamSetBar::readInstrument(std::function<void(const Values&)> then)
{
    const bool queued = link_.readBatch(this, readRequests(), [this, then](const QVector<ReadResult>& results) {
        QString error;
        const std::optional<Values> values = valuesFromReads(results, &error);
        if (values)
            then(*values);
        else
            done(tr("无法读取仪表参数：%1").arg(error), true);
    });
    if (!queued)
        done(tr("上一次读取尚未完成"), true);
}

void ParamSetBar::loadFile(std::function<void(const File&)> then)
{
    const QString path = chooseFile(FileUse::Open, QString());
    if (path.isEmpty())
        return done(QString(), false);
    offThread<LoadResult>(
        this, [path] { return ParameterSet::load(path); },
        [this, then](const LoadResult& r) {
            if (r.file)
                then(*r.file);
            else
                done(r.error, true);
        });
}

void ParamSetBar::backup()
{
    if (busy_)
        return;
    setBusy(true);
    readInstrument([this](const Values& values) {
        const QDateTime now = QDateTime::currentDateTime();
        const PortSettings port = link_.portSettings();
        const QString suggestion = QDir::home().filePath(
            QStringLiteral("px5800-%1-%2.json").arg(port.address).arg(now.toString(QStringLiteral("yyyyMMdd-HHmm"))));
        const QString path = chooseFile(FileUse::Save, suggestion);
        if (path.isEmpty())
            return done(QString(), false);
        const QByteArray bytes = toJson(values, port, now);
        offThread<QString>(
            this,
            [path, bytes] {
                QString error;
                return ParameterSet::save(path, bytes, &error) ? QString() : error;
            },
            [this, path](const QString& error) {
                done(error.isEmpty() ? tr("已保存到 %1").arg(path) : error, !error.isEmpty());
            });
    });
}

void ParamSetBar::compare()
{
    if (busy_)
        return;
    setBusy(true);
    loadFile([this](const File& file) {
        readInstrument([this, file](const Values& instrument) {
            const QVector<Difference> d = diff(instrument, file.values);
            if (d.isEmpty())
                return done(tr("仪表与文件一致（%1 项）").arg(file.values.size()), false);
            showDifferences(false, d, tr("%1 项不同").arg(d.size()));
            done(QString(), false);
        });
    });
}

void ParamSetBar::restore()
{
    if (busy_)
        return;
    setBusy(true);
    loadFile([this](const File& file) {
        readInstrument([this, file](const Values& instrument) {
            const int here = link_.portSettings().address;
            if (file.port.address != 0 && file.port.address != here
                && !confirm(
                    tr("此文件读自地址 %1 的仪表，当前仪表地址为 %2。仍要恢复吗？").arg(file.port.address).arg(here)))
                return done(QString(), false);
            startRestore(file, instrument);
        });
    });
}

void ParamSetBar::startRestore(const File& file, const Values& instrument)
{
    const QVector<Difference> d = diff(instrument, file.values);
    if (d.isEmpty())
        return done(tr("仪表与文件一致，无需恢复"), false);
    const std::optional<QSet<int>> chosen =
        showDifferences(true, d, tr("%1 项不同；勾选的项将按顺序写入仪表，然后全部读回核对。").arg(d.size()));
    if (!chosen || chosen->isEmpty())
        return done(QString(), false);

    Plan p = plan(instrument, file.values, *chosen);
    target_ = std::make_unique<AuditedTarget>(link_, audit_, this);
    runner_ = new RestoreRunner(*target_, std::move(p), file.values, *chosen, this);
    progress_ =
        new QProgressDialog(tr("正在恢复参数…"), CommonText::cancel(), 0, int(runner_->report().steps.size()), this);
    progress_->setObjectName(QStringLiteral("RestoreProgress"));
    progress_->setWindowModality(Qt::WindowModal);
    progress_->setMinimumDuration(0);
    progress_->setAutoClose(false);
    progress_->setAutoReset(false);
    connect(progress_, &QProgressDialog::canceled, runner_, &RestoreRunner::cancel);
    connect(runner_, &RestoreRunner::progress, progress_, [this](int n, int total) {
        progress_->setValue(n);
        if (n == total)
            progress_->setLabelText(tr("正在读回核对…"));
    });
    connect(runner_, &RestoreRunner::finished, this, &ParamSetBar::finishRestore);
    qCInfo(lcConfig) << "restore of" << runner_->report().steps.size() << "writes started";
    runner_->start();
}

void ParamSetBar::finishRestore(const Report& report)
{
    progress_->deleteLater();
    progress_ = nullptr;
    runner_->deleteLater();
    runner_ = nullptr;
    const bool problem = report.stopped || !report.readBack || !report.stillDiffering.isEmpty()
                         || !report.refused.isEmpty() || report.count(StepState::Written) != report.steps.size();
    done(reportLines(report).join(u'\n'), problem);
}
