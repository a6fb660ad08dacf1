#include "CliApp.h"
#include "InstrumentSession.h"
#include "ParameterRestore.h"
#include "WriteLabels.h"

#include <QEventLoop>
#include <QFile>

using namespace ParameterSet;

namespace {

// Writes through the session (the station's write path) and journals each
// write as the configuration window does: the register as the source, its
// caption in the message. The closing read-back settles each register's
// last write as "verified" or "mismatch".
class SessionTarget final : public Target {
public:
    SessionTarget(InstrumentSession& session, CliJournal& journal, const Values& before)
        : session_(session), journal_(journal), before_(before)
    {
    }
    void write(int reg, qint32 value, WriteDone done) override
    {
        const WriteRequest request{WriteFn::Set_4X_D1, reg, value};
        const WriteResult r = session_.writeRegister(reg, value);
        const WriteLabel label = labelOf(reg);
        const auto old = before_.contains(reg) ? std::optional<qint32>(before_.value(reg)) : std::nullopt;
        if (const qint64 row = journal_.sent(request, label, old, r))
            written_.insert(reg, row);
        else
            written_.remove(reg); // a failed write supersedes an earlier one
        before_.insert(reg, value);
        done(r);
    }
    void readAll(ReadDone done) override
    {
        BusTarget(session_.bus(), session_.options().settings)
            .readAll([this, done = std::move(done)](const QVector<ReadResult>& results) {
                settle(results);
                done(results);
            });
    }

private:
    static WriteLabel labelOf(int reg) { return WriteLabels::forSetRow(*rowFor(reg)); }
    void settle(const QVector<ReadResult>& results)
    {
        const std::optional<Values> shown = valuesFromReads(results, nullptr);
        for (auto it = written_.cbegin(); it != written_.cend(); ++it) {
            const int reg = it.key();
            journal_.readBack(it.value(), {WriteFn::Set_4X_D1, reg, before_.value(reg)}, labelOf(reg),
                              shown && shown->contains(reg) ? std::optional<qint32>(shown->value(reg)) : std::nullopt);
        }
        written_.clear();
    }

    InstrumentSession& session_;
    CliJournal& journal_;
    Values before_;
    QMap<int, qint64> written_; // register -> journal row of its last answered write
};

QString tableLine(const QString& reg, const QString& caption, const QString& a, const QString& b)
{
    return QStringList{reg, caption, a, b}.join(u'\t') + u'\n';
}

// The instrument options, the parsing and the whole set read once.
struct Setup {
    InstrumentOptions options;
    std::unique_ptr<InstrumentSession> session;
    Values instrument;
};

int openAndRead(CliContext& cx, Setup& s)
{
    QString error;
    s.session = std::make_unique<InstrumentSession>(s.options);
    if (!s.session->open(&error))
        return cx.fail(kExitFailed, error);
    const std::optional<Values> values = readNow(s.session->bus(), s.options.settings, &error);
    if (!values)
        return cx.fail(kExitFailed, QStringLiteral("%1: %2").arg(s.session->lineText(), error));
    s.instrument = *values;
    return kExitOk;
}

int dump(CliContext& cx, const QStringList& args, const QString& out, Setup& s)
{
    if (!args.isEmpty())
        return cx.usage(QStringLiteral("dump takes no file argument; use --out FILE"));
    if (const int code = openAndRead(cx, s))
        return code;
    const QByteArray json = toJson(s.instrument, s.options.settings, QDateTime::currentDateTime());
    if (out.isEmpty()) {
        cx.out().write(json);
        return kExitOk;
    }
    QString error;
    if (!save(out, json, &error))
        return cx.fail(kExitFailed, error);
    cx.print(QStringLiteral("%1 registers saved to %2\n").arg(s.instrument.size()).arg(out));
    return kExitOk;
}

int printDifferences(CliContext& cx, const QVector<Difference>& d)
{
    cx.print(tableLine(QStringLiteral("REGISTER"), QStringLiteral("CAPTION"), QStringLiteral("INSTRUMENT"),
                       QStringLiteral("FILE")));
    for (const Difference& x : d)
        cx.print(
            tableLine(QString::number(x.row->reg), caption(*x.row), text(*x.row, x.instrument), text(*x.row, x.file)));
    return kExitDifferent;
}

int diffCommand(CliContext& cx, const File& file, Setup& s)
{
    if (const int code = openAndRead(cx, s))
        return code;
    const QVector<Difference> d = diff(s.instrument, file.values);
    if (d.isEmpty()) {
        cx.print(QStringLiteral("same: %1 registers\n").arg(file.values.size()));
        return kExitOk;
    }
    return printDifferences(cx, d);
}

int restoreCommand(CliContext& cx, const File& file, const QString& onlyText, bool yes, Setup& s)
{
    QSet<int> only;
    for (const QString& part : onlyText.split(u',', Qt::SkipEmptyParts)) {
        bool ok = false;
        const int reg = part.trimmed().toInt(&ok);
        if (!ok || !file.values.contains(reg))
            return cx.usage(QStringLiteral("--only: register \"%1\" is not in the file").arg(part.trimmed()));
        only.insert(reg);
    }
    if (const int code = openAndRead(cx, s))
        return code;
    const Plan p = plan(s.instrument, file.values, only);
    if (file.port.address != 0 && file.port.address != s.options.settings.address)
        cx.print(QStringLiteral("note: the file was read from address %1; this instrument is address %2\n")
                     .arg(file.port.address)
                     .arg(s.options.settings.address));
    if (p.steps.isEmpty() && p.refused.isEmpty()) {
        cx.print(QStringLiteral("nothing to write: the instrument holds the file's values\n"));
        return kExitOk;
    }
    int n = 0;
    for (const Step& step : p.steps)
        cx.print(QStringLiteral("%1. %2 %3: %4 -> %5%6\n")
                     .arg(++n)
                     .arg(step.row->reg)
                     .arg(caption(*step.row),
                          s.instrument.contains(step.row->reg) ? text(*step.row, s.instrument.value(step.row->reg))
                                                               : QString(),
                          text(*step.row, step.value),
                          step.linked ? QStringLiteral(" (with the output type)") : QString()));
    for (const Refusal& r : p.refused)
        cx.print(QStringLiteral("not written: %1 %2 -> %3: %4\n")
                     .arg(r.row->reg)
                     .arg(caption(*r.row), text(*r.row, r.value), r.reason));
    if (!yes) {
        cx.print(QStringLiteral("dry run, nothing written; add --yes to write\n"));
        return kExitOk;
    }

    SessionTarget target(*s.session, cx.journal(), s.instrument);
    RestoreRunner runner(target, p, file.values, only);
    QEventLoop loop;
    QObject::connect(&runner, &RestoreRunner::finished, &loop, &QEventLoop::quit);
    runner.start();
    if (runner.running())
        loop.exec();
    const Report& report = runner.report();
    cx.print(reportLines(report).join(u'\n') + u'\n');
    if (report.stopped || !report.readBack)
        return kExitFailed;
    return report.stillDiffering.isEmpty() ? kExitOk : kExitDifferent;
}

} // namespace

int runParams(CliContext& cx)
{
    QCommandLineParser parser;
    const QCommandLineOption out(QStringLiteral("out"),
                                 QStringLiteral("dump: write the set to FILE instead of standard output."),
                                 QStringLiteral("FILE"));
    const QCommandLineOption only(QStringLiteral("only"),
                                  QStringLiteral("restore: only these registers (and what their writes change)."),
                                  QStringLiteral("REGISTER,..."));
    const QCommandLineOption yes(
        QStringLiteral("yes"),
        QStringLiteral("restore: write; without it the plan is printed and nothing is written."));
    parser.addOptions({out, only, yes});
    parser.addPositionalArgument(QStringLiteral("action"), QStringLiteral("dump, diff FILE or restore FILE."));
    Setup s;
    int code = kExitOk;
    if (!cx.parseInstrument(
            parser, QStringLiteral("dump [--out FILE] | diff FILE | restore FILE [--only REGISTER,...] [--yes]"),
            QStringLiteral("The instrument's whole parameter set (configuration, segments, PID groups, "
                           "grouping, alarm settings, SV) as a JSON file. diff exits 3 when the instrument "
                           "and the file differ. restore writes the registers that differ, in a safe order, "
                           "through the station's write path, then reads everything back."),
            &s.options, &code))
        return code;
    QStringList args = parser.positionalArguments();
    if (args.isEmpty())
        return cx.usage(QStringLiteral("expects dump, diff FILE or restore FILE"));
    const QString action = args.takeFirst();
    if (action == u"dump")
        return dump(cx, args, parser.value(out), s);
    if (action != u"diff" && action != u"restore")
        return cx.usage(QStringLiteral("unknown action \"%1\"; dump, diff or restore").arg(action));
    if (args.size() != 1)
        return cx.usage(QStringLiteral("%1 expects one FILE").arg(action));
    const LoadResult loaded = load(args.first());
    if (!loaded.file)
        return cx.fail(kExitUsage, loaded.error + QStringLiteral("; nothing written"));
    if (action == u"diff")
        return diffCommand(cx, *loaded.file, s);
    return restoreCommand(cx, *loaded.file, parser.value(only), parser.isSet(yes), s);
}
