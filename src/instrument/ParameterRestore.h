#pragma once
#include "ParameterSet.h"

#include "LinkTypes.h"
#include "PortSettings.h"

#include <QObject>
#include <QPointer>
#include <functional>

class LinkClient;
class Modbus485;
class TestE2eParams;

namespace ParameterSet {

// Where a restore writes and reads. write() is the write path of editing:
// one register, repeated once when the library answers -8888. Both calls may
// answer at once (a synchronous bus) or later (the link thread).
class Target {
public:
    using WriteDone = std::function<void(const WriteResult&)>;
    using ReadDone = std::function<void(const QVector<ReadResult>&)>;
    virtual ~Target() = default;
    virtual void write(int reg, qint32 value, WriteDone done) = 0;
    virtual void readAll(ReadDone done) = 0; // readRequests(), in order
};

// Through the station's link thread; answers arrive on the GUI thread.
class LinkTarget final : public Target {
public:
    LinkTarget(LinkClient& link, QObject* requester) : link_(link), requester_(requester) {}
    void write(int reg, qint32 value, WriteDone done) override;
    void readAll(ReadDone done) override;

private:
    LinkClient& link_;
    QPointer<QObject> requester_;
};

// Straight on a Modbus library, on the caller's thread (the command line).
class BusTarget final : public Target {
public:
    BusTarget(Modbus485& bus, PortSettings port) : bus_(bus), port_(port) {}
    void write(int reg, qint32 value, WriteDone done) override;
    void readAll(ReadDone done) override;

private:
    Modbus485& bus_;
    PortSettings port_;
};

// The whole set read at once; nothing and `error` when a block failed.
std::optional<Values> readNow(Modbus485& bus, const PortSettings& port, QString* error);

enum class StepState {
    Written,
    RefusedByInstrument, // it answered with an exception: value not taken
    Failed,              // no usable answer: the restore stopped here
    NotWritten,          // not attempted (cancelled, or stopped earlier)
};

struct StepReport {
    Step step;
    StepState state = StepState::NotWritten;
    LinkOutcome outcome = LinkOutcome::Skipped;
};

struct Report {
    QVector<StepReport> steps;
    QVector<Refusal> refused; // left out by the plan
    bool cancelled = false;
    bool stopped = false; // the instrument stopped answering
    bool readBack = false;
    QString readBackError;
    QVector<Difference> stillDiffering;    // chosen rows that still differ after the read-back
    QVector<Difference> unchosenDiffering; // rows left unchosen that differ from the file after the read-back
    int count(StepState state) const;
};

// Carries out a plan one write at a time, then reads the whole set back and
// reports what still differs from the file. A write that gets no usable
// answer stops the run: the remaining steps are reported as not written.
//
// The read-back waits kSettleMs first: the set value comes back through the
// input register the instrument refreshes once per scan (0.5 s).
class RestoreRunner : public QObject {
    Q_OBJECT
public:
    static constexpr int kSettleMs = 1000;

    RestoreRunner(Target& target, Plan plan, Values file, QSet<int> only, QObject* parent = nullptr);
    void start();
    void cancel(); // takes effect before the next write
    bool running() const { return running_; }
    const Report& report() const { return report_; }

Q_SIGNALS:
    void progress(int done, int total);
    void finished(const ParameterSet::Report& report);

private:
    // The test against the simulator does not wait a real scan's settling.
    friend class ::TestE2eParams;
    void setSettleTime(int ms) { settleMs_ = ms; }

    void next();
    void onWritten(const WriteResult& result);
    void onReadBack(const QVector<ReadResult>& results);

    Target& target_;
    Values file_;
    QSet<int> only_;
    Report report_;
    int position_ = 0;
    int settleMs_ = kSettleMs;
    bool running_ = false;
    bool cancelRequested_ = false;
};

QString stateText(StepState state);
// The report as lines for a person: counts, where it stopped, what was not
// written or refused, and what still differs after the read-back, chosen or
// not: "consistent with the file" only when every row is.
QStringList reportLines(const Report& report);

} // namespace ParameterSet
