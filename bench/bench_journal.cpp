// Event journal: appending to a full journal (200 000 rows, so every insert
// also deletes the oldest) on the writer's side, what the GUI thread pays per
// event, and opening the journal window on the full journal to first paint.
//   bench_journal [folder]   (default: a temporary folder)
#include "BenchStats.h"
#include "Journal.h"
#include "JournalModel.h"
#include "JournalStore.h"
#include "JournalWindow.h"
#include "JournalWriter.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTableView>
#include <QTemporaryDir>

#include <cstdio>
#include <ctime>
#include <vector>

using bench::measure;
using bench::print;

namespace {
JournalEvent sample(int i)
{
    JournalEvent e;
    e.timeUtc = QDateTime::currentDateTimeUtc();
    e.kind = i % 7 == 0 ? QStringLiteral("alarm") : QStringLiteral("write");
    e.source = QStringLiteral("SV");
    e.message = QStringLiteral("修改SV（第 %1 次）").arg(i);
    e.oldValue = QString::number(300 + i % 50);
    e.newValue = QString::number(301 + i % 50);
    e.result = QStringLiteral("verified");
    e.operatorName = QStringLiteral("operator");
    return e;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QTemporaryDir temp;
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : temp.path();
    const QString path = QDir(folder).filePath(QStringLiteral("bench_journal.db"));
    for (const QString& suffix : {QString(), QStringLiteral("-wal"), QStringLiteral("-shm")})
        QFile::remove(path + suffix);

    {
        JournalStore store(QStringLiteral("fill"));
        if (!store.open(path)) {
            std::fprintf(stderr, "cannot open %s: %s\n", qPrintable(path), qPrintable(store.lastError()));
            return 1;
        }
        for (int done = 0; done < JournalStore::kDefaultBound;) {
            QList<JournalEvent> batch;
            for (int i = 0; i < 5000; ++i)
                batch << sample(done++);
            store.append(batch);
        }
        std::printf("journal filled with %d events\n", store.count({}));
    }

    {
        // The writer as it runs on its thread: one event per call, each its
        // own transaction with the ring trim and the alarm count.
        JournalWriter writer(path);
        writer.flush();
        const auto s = measure(2000, [&](int i) { writer.append(sample(i)); });
        print("append on the writer thread (full journal), wall", 2000, s);
        // The same work in this thread's CPU time: on a loaded machine the
        // wall-clock tail is mostly time spent waiting for a core.
        std::vector<double> cpu;
        for (int i = 0; i < 2000; ++i) {
            timespec a{}, b{};
            clock_gettime(CLOCK_THREAD_CPUTIME_ID, &a);
            writer.append(sample(i));
            clock_gettime(CLOCK_THREAD_CPUTIME_ID, &b);
            cpu.push_back(double(b.tv_sec - a.tv_sec) * 1e3 + double(b.tv_nsec - a.tv_nsec) / 1e6);
        }
        print("append on the writer thread (full journal), CPU", 2000,
              {bench::percentile(cpu, 0.5), bench::percentile(cpu, 0.99), bench::percentile(cpu, 1.0)});
        writer.finish();
    }

    {
        Journal journal(path);
        const auto s = measure(2000, [&](int i) {
            journal.append(QStringLiteral("write"), QStringLiteral("SV"), QStringLiteral("修改SV %1").arg(i),
                           QStringLiteral("300"), QStringLiteral("320"), QStringLiteral("ok"));
        });
        print("append as the GUI thread pays it", 2000, s);
        journal.sync();

        for (int run = 0; run < 3; ++run) {
            QElapsedTimer t;
            t.start();
            JournalWindow window(journal);
            window.resize(1100, 640);
            auto* table = window.findChild<QTableView*>(QStringLiteral("JournalTable"));
            const double builtMs = double(t.nsecsElapsed()) / 1e6;
            window.show();
            const double shownMs = double(t.nsecsElapsed()) / 1e6;
            while (window.model()->rowCount() == 0)
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
            table->viewport()->repaint(); // the first paint with rows, synchronously
            const double openMs = double(t.nsecsElapsed()) / 1e6;
            // Scrolling to the end of what is loaded fetches the next page.
            t.start();
            const int before = window.model()->rowCount();
            table->scrollToBottom();
            while (window.model()->rowCount() == before)
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
            const double pageMs = double(t.nsecsElapsed()) / 1e6;
            std::printf("window open to first painted rows (200 000 events) %7.1f ms (built %.1f, shown %.1f); "
                        "next page on scroll %.1f ms\n",
                        openMs, builtMs, shownMs, pageMs);
        }
    }
    return 0;
}
