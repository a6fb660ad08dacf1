#pragma once
#include <QString>
#include <memory>

// Where the cli reports each write it makes for the operator. The event
// journal plugs in here; until it does, writes are not recorded.
class CliJournal {
public:
    struct Write {
        QString source;   // what was written: "SV", "coil 2", ...
        QString oldValue; // as the instrument showed it before; empty if unknown
        QString newValue;
        QString result;   // "ok", "failed", "refused", "verified", "mismatch: ..."
        QString message;  // for a refusal, the reason
    };
    virtual ~CliJournal() = default;
    virtual void recordWrite(const Write& write) = 0;
};

// The journal at `path` (empty: the default beside the history). Never
// fails: without a usable journal the writes go unrecorded.
std::unique_ptr<CliJournal> openCliJournal(const QString& path);
