#include "HistoryExport.h"
#include "HistoryLocation.h"
#include "StationClock.h"
#include "HistoryReadConnection.h"
#include "NumberText.h"
#include "RecordLog.h"
#include "RingSchema.h"

#include <QIODevice>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>
#include <cmath>
#include <limits>

namespace {

constexpr qint64 kDay = 86400;

qint64 floorDiv(qint64 a, qint64 b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

using RingSchema::errorText;

// The span of times a row can truly have; outside it the stored day number
// is damaged (and would print as "-018-06-18" or "0000-00-00").
const HistorySecond kFirstSecond = historySecondOf(QDate(1900, 1, 1), QTime(0, 0));
const HistorySecond kLastSecond = historySecondOf(QDate(9999, 12, 31), QTime(23, 59, 59));

// Formats rows into a buffer that goes to the device in large writes.
class CsvWriter {
public:
    explicit CsvWriter(QIODevice& out) : out_(out) { buffer_.reserve(kFlushAt + 256); }

    bool append(const QByteArray& bytes)
    {
        buffer_.append(bytes);
        return buffer_.size() < kFlushAt || flush();
    }

    enum class Row { Written, Skipped, WriteFailed };

    Row appendRow(const QSqlQuery& q)
    {
        bool ok = false;
        const qint64 second = q.value(0).toLongLong(&ok);
        if (!ok || second < kFirstSecond || second > kLastSecond)
            return Row::Skipped;
        char line[256];
        char* p = line;
        char* const end = line + sizeof line;
        p = appendTime(p, second);
        for (int column = 2; column <= 5; ++column) {
            *p++ = ',';
            const QVariant v = q.value(column);
            if (v.isNull())
                continue;
            const double d = v.toDouble(&ok);
            char* next = ok && std::isfinite(d) ? appendExactText(p, end - 2, d) : nullptr;
            if (!next)
                return Row::Skipped;
            p = next;
        }
        *p++ = '\n';
        buffer_.append(line, p - line);
        return buffer_.size() < kFlushAt || flush() ? Row::Written : Row::WriteFailed;
    }

    bool flush()
    {
        if (buffer_.isEmpty())
            return true;
        const qint64 written = out_.write(buffer_);
        const bool ok = written == buffer_.size();
        buffer_.clear();
        return ok;
    }

private:
    static constexpr qsizetype kFlushAt = 64 * 1024;

    char* appendTime(char* p, qint64 second)
    {
        const qint64 day = floorDiv(second, kDay);
        if (day != cachedDay_) {
            cachedDay_ = day;
            const QDate date = OleTime::epoch().addDays(day); // years 1900 to 9999: four digits
            struct Part {
                int value, digits;
                char after;
            };
            char* d = dateText_;
            for (const Part& part : {Part{date.year(), 4, '-'}, Part{date.month(), 2, '-'}, Part{date.day(), 2, ' '}}) {
                for (int i = part.digits - 1, v = part.value; i >= 0; --i, v /= 10)
                    d[i] = char('0' + v % 10);
                d += part.digits;
                *d++ = part.after;
            }
        }
        for (int i = 0; i < 11; ++i)
            *p++ = dateText_[i];
        const int s = int(second - day * kDay);
        const int parts[3] = {s / 3600, s / 60 % 60, s % 60};
        for (int i = 0; i < 3; ++i) {
            if (i)
                *p++ = ':';
            *p++ = char('0' + parts[i] / 10);
            *p++ = char('0' + parts[i] % 10);
        }
        return p;
    }

    QIODevice& out_;
    QByteArray buffer_;
    qint64 cachedDay_ = std::numeric_limits<qint64>::min();
    char dateText_[11] = {}; // "YYYY-MM-DD "
};

ExportResult failed(ExportResult::Status status, const QString& error, qint64 rows = 0)
{
    ExportResult r;
    r.status = status;
    r.error = error;
    r.rows = rows;
    return r;
}

} // namespace

HistorySecond historySecondOf(const QDate& date, const QTime& time)
{
    return OleTime::epoch().daysTo(date) * kDay + time.msecsSinceStartOfDay() / 1000;
}

std::optional<HistorySecond> parseHistorySecond(const QString& text, bool endOfDay)
{
    static const QRegularExpression form(
        QStringLiteral("^(\\d{4})-(\\d{2})-(\\d{2})(?: (\\d{2}):(\\d{2}):(\\d{2}))?$"));
    const QRegularExpressionMatch m = form.match(text.trimmed());
    if (!m.hasMatch())
        return std::nullopt;
    const QDate date(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
    const QTime time = m.capturedLength(4) ? QTime(m.captured(4).toInt(), m.captured(5).toInt(), m.captured(6).toInt())
                       : endOfDay          ? QTime(23, 59, 59)
                                           : QTime(0, 0);
    if (!date.isValid() || !time.isValid())
        return std::nullopt;
    return historySecondOf(date, time);
}

QString historySecondText(HistorySecond second)
{
    const qint64 day = floorDiv(second, kDay);
    return TimeText::text(OleTime::epoch().addDays(day), QTime(0, 0).addSecs(int(second - day * kDay)));
}

ExportResult HistoryExport::run(const ExportRequest& request, QIODevice& out, const Progress& progress,
                                const std::atomic_bool* cancel)
{
    using S = ExportResult::Status;
    HistoryReadConnection connection(QStringLiteral("px-export"));
    QString error;
    if (!connection.open(request.databasePath, &error))
        return failed(S::DatabaseFailed, error);
    const QString shown = connection.displayName();

    const QLatin1String table(RingSchema::of(request.ring).table);
    {
        // A prepared statement on a missing table fails with a binding
        // complaint; name the table instead.
        QSqlQuery probe(connection.db());
        if (!probe.exec(RingSchema::tableProbe(request.ring)))
            return failed(S::DatabaseFailed,
                          QStringLiteral("cannot read %1 from %2: %3").arg(table, shown, errorText(probe.lastError())));
    }
    qint64 newest = 0;
    {
        // Without a readable counter the ties fall back to plain id order.
        QSqlQuery q(connection.db());
        if (q.exec(RingSchema::newestIdQuery(request.ring)) && q.next())
            newest = q.value(0).toLongLong();
    }

    qint64 total = 0;
    {
        QSqlQuery q(connection.db());
        q.prepare(RingSchema::exportRangeQuery(request.ring, request.from, request.to, QStringLiteral("count(*)"),
                                               QString()));
        q.bindValue(QStringLiteral(":newest"), newest);
        if (!q.exec() || !q.next())
            return failed(S::DatabaseFailed,
                          QStringLiteral("cannot read %1 from %2: %3").arg(table, shown, errorText(q.lastError())));
        total = q.value(0).toLongLong();
    }

    QSqlQuery q(connection.db());
    q.setForwardOnly(true);
    q.prepare(RingSchema::exportRangeQuery(request.ring, request.from, request.to,
                                           QStringLiteral("t, ring_pos, w_pv, w_op, w_sv, w_aux"),
                                           QStringLiteral(" order by t, ring_pos")));
    q.bindValue(QStringLiteral(":newest"), newest);
    if (!q.exec())
        return failed(S::DatabaseFailed,
                      QStringLiteral("cannot read %1 from %2: %3").arg(table, shown, errorText(q.lastError())));

    CsvWriter csv(out);
    const QString writeError = QStringLiteral("cannot write the CSV: %1");
    if (!csv.append(header()))
        return failed(S::WriteFailed, writeError.arg(out.errorString()));
    qint64 rows = 0;
    qint64 skipped = 0;
    while (q.next()) {
        if (cancel && cancel->load(std::memory_order_relaxed))
            return failed(S::Cancelled, QStringLiteral("cancelled"), rows);
        switch (csv.appendRow(q)) {
        case CsvWriter::Row::Written: ++rows; break;
        case CsvWriter::Row::Skipped: ++skipped; break;
        case CsvWriter::Row::WriteFailed: return failed(S::WriteFailed, writeError.arg(out.errorString()), rows);
        }
        if (progress && (rows + skipped) % kProgressRows == 0)
            progress(rows + skipped, total);
    }
    if (q.lastError().isValid())
        return failed(S::DatabaseFailed, QStringLiteral("reading %1 stopped: %2").arg(table, errorText(q.lastError())),
                      rows);
    if (!csv.flush())
        return failed(S::WriteFailed, writeError.arg(out.errorString()), rows);
    if (progress)
        progress(rows + skipped, total);
    qCDebug(lcRecord) << "exported" << rows << "rows of" << table << "skipped" << skipped;
    ExportResult r;
    r.rows = rows;
    r.skipped = skipped;
    return r;
}
