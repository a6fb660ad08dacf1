#include "CliJournal.h"
#include "HistoryStore.h"

CliJournal::CliJournal(const QString& path, Warn warn)
    : path_(path), warn_(std::move(warn)), store_(QStringLiteral("px5800-cli journal")), operator_(currentOperator())
{
    store_.setBusyTimeout(kBusyTimeoutMs);
    opened_ = store_.open(path_);
    if (!opened_)
        warnOnce(QStringLiteral("%1: %2").arg(path_, store_.lastError()));
}

CliJournal::~CliJournal() = default;

void CliJournal::warnOnce(const QString& why)
{
    if (warned_)
        return;
    warned_ = true;
    if (warn_)
        warn_(QStringLiteral("journal not written: %1").arg(why));
}

qint64 CliJournal::append(JournalEvent event)
{
    // A failed statement leaves its connection to be made anew.
    if (!store_.isOpen() && (!opened_ || !store_.open(path_)))
        return 0;
    event.timeUtc = QDateTime::currentDateTimeUtc();
    event.operatorName = operator_;
    event.loop = loop_;
    QList<JournalEvent> events{event};
    if (!store_.append(events)) {
        warnOnce(store_.lastError());
        return 0;
    }
    return events.first().id;
}

qint64 CliJournal::sent(const WriteRequest& request, const WriteLabel& label, std::optional<qint32> old,
                        const WriteResult& result)
{
    const qint64 row = append(WriteEntry::sent(request, label, old, result));
    return result.outcome == LinkOutcome::Answered ? row : 0;
}

void CliJournal::refused(const WriteRequest& request, const WriteLabel& label, std::optional<qint32> old,
                         const QString& enteredText, const QString& reason)
{
    append(WriteEntry::refused(request, label, old, enteredText, reason));
}

void CliJournal::readBack(qint64 row, const WriteRequest& request, const WriteLabel& label, std::optional<qint32> shown)
{
    if (row <= 0 || !shown)
        return;
    const QString result =
        *shown == WriteEntry::valueOf(request) ? WriteEntry::verified() : WriteEntry::mismatch(*shown, label.divisor);
    if (!store_.updateResult(row, result))
        warnOnce(store_.lastError());
}

QString defaultCliJournalPath() { return journalLocationFor(QString(), defaultDatabasePath()); }

std::unique_ptr<CliJournal> openCliJournal(const QString& path, CliJournal::Warn warn)
{
    return std::make_unique<CliJournal>(path.isEmpty() ? defaultCliJournalPath() : path, std::move(warn));
}
