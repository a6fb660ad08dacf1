#pragma once
#include "LinkTypes.h"
#include "WriteAudit.h"

namespace MonitorTables {
struct EditRow;
}
namespace ParameterSet {
struct Row;
}

// How the journal names each register and coil the station writes: one
// table for every window, so the same register reads the same in the journal
// whoever wrote it (main window, configuration window, tuning assistant).
namespace WriteLabels {

// Configuration parameter `index` (0..38): its caption, in tenths where the
// instrument keeps it so.
WriteLabel forParameter(int index);
// An entry row of the main window: "SV" and "OP" by name, the rest by number.
WriteLabel forEditRow(const MonitorTables::EditRow& row);
// A mode coil (1 self-tuning, 2 automatic/manual, 3 manual permitted).
WriteLabel forCoil(int coil);
// A row of a parameter set, named and scaled as the window that edits it
// does; segment and PID words by their group and column.
WriteLabel forSetRow(const ParameterSet::Row& row);
// Whatever `request` writes, looked up in the tables above; an unknown
// register or coil gets the default label (its number).
WriteLabel forRequest(const WriteRequest& request);

} // namespace WriteLabels
