#pragma once
#include "StepTest.h"
#include "WriteAudit.h"

#include <QPointer>

#include <functional>

class LinkClient;
class QObject;
struct InstrumentPid;

// The tuning assistant's changes to the instrument: through the station's
// audited write path when it has one (journal row, read-back), named in the
// journal as every other window names the same register or coil.
class TuningWrites final : public InstrumentWriter {
public:
    TuningWrites(LinkClient& link, QObject* requester) : link_(link), requester_(requester) {}

    void setAudit(WriteAudit* audit) { audit_ = audit; }

    // A step test's write; `why` goes to the log, `done` gets whether it was answered.
    void write(const WriteRequest& request, const QString& why, Done done) override;

    // Once every write of writePid() is answered or given up: empty when all
    // three were taken, otherwise which failed and why.
    using PidDone = std::function<void(const QString& failure)>;

    // The three PID registers, each checked by the configuration table's
    // entry rule. When any is out of bounds nothing is sent and each refusal
    // is journaled; returns whether the writes were sent (`done` follows
    // with their results).
    bool writePid(const InstrumentPid& pid, PidDone done = {});

private:
    LinkClient& link_;
    QObject* requester_;
    // Guarded: the window restores the plant as it goes down, which may be
    // after the station has already torn its audit down.
    QPointer<WriteAudit> audit_;
};
