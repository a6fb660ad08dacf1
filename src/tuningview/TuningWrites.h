#pragma once
#include "StepTest.h"

class LinkClient;
class QObject;
class WriteAudit;
struct InstrumentPid;

// The tuning assistant's changes to the instrument: through the station's
// audited write path when it has one (journal row, read-back), named in the
// journal as every other window names the same register or coil.
class TuningWrites final : public InstrumentWriter {
public:
    TuningWrites(LinkClient& link, QObject* requester) : link_(link), requester_(requester) {}

    void setAudit(WriteAudit* audit) { audit_ = audit; }

    // A step test's write; `why` goes to the log.
    void write(const WriteRequest& request, const QString& why) override;

    // The three PID registers, each checked by the configuration table's
    // entry rule. When any is out of bounds nothing is sent and each refusal
    // is journaled; returns whether the writes were sent.
    bool writePid(const InstrumentPid& pid);

private:
    LinkClient& link_;
    QObject* requester_;
    WriteAudit* audit_ = nullptr;
};
