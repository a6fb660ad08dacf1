#pragma once
#include "EntryRule.h"
#include "LinkTypes.h"
#include "PortSettings.h"

#include <QByteArray>
#include <QDateTime>
#include <QMap>
#include <QSet>
#include <QString>
#include <QVector>

#include <optional>
#include <span>

// A parameter set: every register an engineer sets up on the instrument
// (configuration parameters, segment table, PID groups, grouping switch,
// alarm settings, set value), saved as a JSON file, compared with the
// instrument and written back in a safe order. Captions, scaling and texts
// come from the same tables the windows use; this file adds only which
// registers belong to a set and in which order they are restored.
namespace ParameterSet {

inline constexpr int kFormat = 1;

enum class Section { Parameters, Segments, PidGroups, Grouping, AlarmSettings, Sv };
inline constexpr Section kSections[] = {Section::Parameters, Section::Segments,      Section::PidGroups,
                                        Section::Grouping,   Section::AlarmSettings, Section::Sv};
QString sectionKey(Section section); // "parameters", "segments", ...

struct Row {
    Section section;
    int reg;     // holding register the value lives in
    int index;   // parameter index, segment word i, PID word j or edit-row box
    bool scaled; // held in tenths
    // Changing it moves the instrument to another address or line setting:
    // the rest of the restore would no longer reach it.
    bool linkSetting;
};

// Every row of a set, in restore order: configuration parameters first
// (their order keeps the output type's linked cycle time before the cycle
// time row), then the segment table and PID groups, the grouping switch once
// the tables it switches to are in place, the alarm settings, the set value,
// and last the instrument's own address and line settings.
std::span<const Row> rows();
const Row* rowFor(int reg);
std::span<const Row> rowsOf(Section section); // in file order (by register)

QString caption(const Row& row);
// The same in the interface's language, for what a window or report shows.
QString shownCaption(const Row& row);
QString text(const Row& row, qint32 raw); // as the window shows the value
// What the row's editor would say to this value: refused values are never written.
EntryRule::Verdict editorVerdict(const Row& row, qint32 raw);

// register -> signed 16-bit value
using Values = QMap<int, qint32>;

// The reads that fetch a whole set: the configuration window's and the
// segments window's register blocks, the alarm settings block the main
// window polls, and the input block that carries the set value.
QVector<ReadRequest> readRequests();
// The set's values from those reads; nothing, and `error` says which block,
// when any read failed.
std::optional<Values> valuesFromReads(const QVector<ReadResult>& results, QString* error);

struct File {
    int format = kFormat;
    QString savedLocal;
    QString savedUtc;
    PortSettings port; // line and address the set was read from
    Values values;
};

QByteArray toJson(const Values& values, const PortSettings& port, const QDateTime& savedAt);

struct LoadResult {
    std::optional<File> file;
    QString error; // why the file was refused; empty when it was read
};
LoadResult fromJson(const QByteArray& bytes);
LoadResult load(const QString& path);
// Writes atomically: a failed save leaves any earlier file as it was.
bool save(const QString& path, const QByteArray& bytes, QString* error);

struct Difference {
    const Row* row;
    qint32 instrument;
    qint32 file;
};
// Rows the file holds whose value differs from the instrument's, in restore order.
QVector<Difference> diff(const Values& instrument, const Values& file);

struct Step {
    const Row* row;
    qint32 value;
    bool linked; // the write that follows an output type, as editing does it
};
struct Refusal {
    const Row* row;
    qint32 value;
    QString reason;
};
struct Plan {
    QVector<Step> steps;
    QVector<Refusal> refused; // differing rows that will not be written, and why
};
// The writes that bring the instrument to the file's values. `only`: the
// registers chosen (empty: every differing row except link settings, which
// are only written when chosen, and then last). A row changed by a linked
// write is written again when the file holds another value, chosen or not.
Plan plan(const Values& instrument, const Values& file, const QSet<int>& only = {});

} // namespace ParameterSet
