#pragma once
#include "JournalStore.h"
#include "LinkTypes.h"
#include "WriteEntry.h"

#include <QString>
#include <functional>
#include <memory>
#include <optional>

// The event journal as the cli writes it: every write it makes for the
// operator gets the row the station's write audit would give it. Written at
// once, on this thread: a command is short and has no window to keep alive.
// The journal never stops a write: when it cannot be opened or written, one
// warning goes out and the command carries on.
class CliJournal {
public:
    using Warn = std::function<void(const QString& line)>;
    // The station may be writing the same file: wait this long for it.
    static constexpr int kBusyTimeoutMs = 5000;

    CliJournal(const QString& path, Warn warn);
    ~CliJournal();
    QString path() const { return path_; }

    // A write that was sent; returns its row for readBack() (0: not stored).
    qint64 sent(const WriteRequest& request, const WriteLabel& label, std::optional<qint32> old,
                const WriteResult& result);
    void refused(const WriteRequest& request, const WriteLabel& label, std::optional<qint32> old,
                 const QString& enteredText, const QString& reason);
    // The value read again after a write: the row turns "verified" or
    // "mismatch: 仪表显示 N". Without a read (`shown` empty) it stays "ok".
    void readBack(qint64 row, const WriteRequest& request, const WriteLabel& label, std::optional<qint32> shown);
    // The loop (address) the following rows belong to, for a command run on
    // one loop of a line; 0, the default, records them as of no loop, as a
    // station of one instrument does.
    void setLoop(int address) { loop_ = address; }

private:
    qint64 append(JournalEvent event);
    void warnOnce(const QString& why);

    QString path_;
    Warn warn_;
    JournalStore store_;
    QString operator_;
    bool warned_ = false;
    bool opened_ = false; // at the start
    int loop_ = 0;
};

// Journal.db beside the default history database.
QString defaultCliJournalPath();
// The journal at `path` (empty: the default), opened now; `warn` hears the
// one line that says why nothing will be recorded.
std::unique_ptr<CliJournal> openCliJournal(const QString& path, CliJournal::Warn warn);
