#pragma once
#include "HistoryTypes.h"

#include <QDateTime>
#include <QString>
#include <atomic>
#include <functional>
#include <optional>

class QIODevice;

// A moment as the history stores it: local wall-clock seconds counted from
// the OLE day 0 (30 December 1899). Both the filter and the time column are
// computed on this one scale, so a bound matches a stored second exactly.
using HistorySecond = qint64;
HistorySecond historySecondOf(const QDate& date, const QTime& time);
// "YYYY-MM-DD HH:MM:SS" (or "YYYY-MM-DD", meaning 00:00:00 when `endOfDay`
// is false and 23:59:59 when it is true), local time; nothing for any other
// text or an impossible date or time.
std::optional<HistorySecond> parseHistorySecond(const QString& text, bool endOfDay = false);
QString historySecondText(HistorySecond second); // "YYYY-MM-DD HH:MM:SS"

struct ExportRequest {
    QString databasePath; // a file or a server URL, as --database takes it
    HistoryRing ring = HistoryRing::Short;
    std::optional<HistorySecond> from; // inclusive; none: from the oldest sample
    std::optional<HistorySecond> to;   // inclusive; none: up to the newest
};

struct ExportResult {
    enum class Status { Done, Cancelled, DatabaseFailed, WriteFailed };
    Status status = Status::Done;
    qint64 rows = 0; // data rows written (the header not counted)
    QString error;   // for the failures: one line naming what failed
    // Rows left out because they cannot be true: a time before 1900 or after
    // 9999, or a value that is not a finite number (text, inf).
    qint64 skipped = 0;
    bool ok() const { return status == Status::Done; }
};

// Writes one ring's samples as CSV (UTF-8, header "time,pv,op,sv,aux", one
// line per sample, "\n" line ends): time as "YYYY-MM-DD HH:MM:SS", the values
// in their shortest exact text, OP in percent as stored, an empty field for a
// missing value. A row that cannot be true (impossible time, a value that is
// not a finite number) is left out and counted in `skipped`, never written
// as a made-up date or an empty field. Samples come in time order, across the ring's wrap and
// midnight; samples of the same second keep the ring's order (oldest id
// first, counted from the newest id in sl_void).
//
// The history (a file or a station's schema on a server) is opened
// read-only (no journal-mode or schema change, nothing created), so a station writing it at the same time is not
// disturbed; rows are streamed from the query, never loaded as a whole. Safe to run on a worker thread: it opens its
// own connection there.
class HistoryExport {
public:
    // Called every kProgressRows rows and at the end, from the exporting
    // thread; `written` counts the rows dealt with, skipped ones included. `total` is the number of rows the range held
    // when the export began (a station writing meanwhile may make the final count differ).
    using Progress = std::function<void(qint64 written, qint64 total)>;
    static constexpr qint64 kProgressRows = 2048;

    static ExportResult run(const ExportRequest& request, QIODevice& out, const Progress& progress = {},
                            const std::atomic_bool* cancel = nullptr);

    static QByteArray header() { return QByteArrayLiteral("time,pv,op,sv,aux\n"); }
};
