#pragma once
#include "JournalEvent.h"
#include "LinkTypes.h"

#include <optional>

// How a written value is named and shown in the journal.
struct WriteLabel {
    QString source;  // "SV", "4126", "coil 2"; empty: the register or coil number
    QString name;    // what the operator calls it ("报警1值", "比例带"); empty: the source
    int divisor = 1; // 10 for values the instrument holds in tenths
};

// The texts of a "write" row, one shape for every program that writes to
// the instrument for an operator (the station's audit, px5800-cli), so the
// journal reads the same whoever wrote. Rows come back without time and
// operator; whoever stores them stamps those.
namespace WriteEntry {
// "SV", "4126", "coil 2".
QString source(const WriteRequest& request, const WriteLabel& label);
// What the write sets: the register value, or 1 / 0 for a coil.
qint32 valueOf(const WriteRequest& request);
// Empty (NULL in the table) when the value is unknown; tenths as "30.5".
QString valueText(std::optional<qint32> raw, int divisor);

// A write that was sent: "ok" when answered, "failed" (after the link's one repeat) otherwise.
JournalEvent sent(const WriteRequest& request, const WriteLabel& label, std::optional<qint32> old,
                  const WriteResult& result);
// An entry refused before anything was sent.
JournalEvent refused(const WriteRequest& request, const WriteLabel& label, std::optional<qint32> old,
                     const QString& enteredText, const QString& reason);
// The result once the value was read again.
QString verified();
QString mismatch(qint32 shown, int divisor);
} // namespace WriteEntry
