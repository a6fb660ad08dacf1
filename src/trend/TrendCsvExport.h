#pragma once
#include "HistoryExport.h"
#include "TrendModel.h"

#include <QObject>
#include <QPointer>
#include <memory>
#include <optional>

class QDialog;
class QProgressDialog;
class QThread;
class QWidget;

// F3's "导出CSV" of a trend window: the samples of the page on screen, or a
// chosen time range of the window's ring, written by the history exporter
// (the same code as the command line) on a worker thread while a progress
// dialog offers cancel. The file appears only when the export completed: a
// cancelled or failed export leaves whatever was at the path untouched.
class TrendCsvExport : public QObject {
    Q_OBJECT
public:
    struct Span {
        HistorySecond from = 0;
        HistorySecond to = 0;
    };
    // First and last moment of the stored samples on screen (the data and
    // run-on areas); nothing when the page shows none.
    static std::optional<Span> pageSpan(const TrendBuffer& buffer, const TrendViewState& view);

    TrendCsvExport(QWidget* owner, HistoryRing ring);
    ~TrendCsvExport() override; // cancels a running export and waits for it

    // Shows the choice of range (or raises the one already open, or the
    // progress of the export under way).
    void openChoice(const QString& databasePath, std::optional<Span> page);
    // Starts writing `request` to `path`; false when an export is under way.
    bool start(const ExportRequest& request, const QString& path);
    void cancel();
    bool running() const { return thread_ != nullptr; }

    // Tests: write here instead of asking with the file dialog.
    void setPathForTest(const QString& path) { testPath_ = path; }

signals:
    void finished(); // done, cancelled or failed (a failure is shown in "csvError")

private:
    struct Job;
    void choosePath(const ExportRequest& request);
    void progressed(qint64 written, qint64 total);
    void done();

    QWidget* owner_;
    HistoryRing ring_;
    QString testPath_;
    QPointer<QDialog> choice_;
    QPointer<QProgressDialog> progress_;
    QThread* thread_ = nullptr;
    std::shared_ptr<Job> job_;
};
