#pragma once
#include "FopdtFit.h"

#include <QDateTime>
#include <QString>

#include <optional>

// A period of the one-second history (pv_data) for identification, read
// through a read-only connection of its own: the file is never created or
// changed, and the recorder may keep writing meanwhile.
namespace HistoryPeriod {

// Longest hole in the record that is bridged by holding the previous sample;
// a longer one (the station was off, the port closed) makes the period unfit.
constexpr double kMaxGapS = 5.0;

// PV and OP from `from` to `to` (local time, both included) on a one-second
// grid, start = 0. nullopt with a reason when the file cannot be opened, the
// query fails, the period holds no rows or has a longer hole.
std::optional<RegularSeries> read(const QString& databasePath, const QDateTime& from, const QDateTime& to,
                                  QString* error);

} // namespace HistoryPeriod
