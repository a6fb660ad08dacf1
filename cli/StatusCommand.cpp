#include "CliApp.h"
#include "InstrumentSession.h"
#include "LineScheduler.h"
#include "LoopList.h"
#include "NumberText.h"
#include "StatusReport.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <optional>

namespace {

constexpr int kMaxCycles = 100;
// As on the station's line: two timeouts in a row and an address is given up.
constexpr int kTimeoutsToOffline = LineScheduler::kTimeoutsToOffline;

// One loop's exchanges over the cycles of one status run.
struct LoopTally {
    int address = 0;
    LiveImage image;
    QMap<LinkOutcome, int> counters;
    QVector<double> responseMs; // answered reads only
    int timeoutsInRow = 0;
    bool lastCycleOk = false;
    std::optional<QDateTime> offlineSince;
    QString lastError;

    void onRead(LinkOutcome outcome, double ms)
    {
        ++counters[outcome];
        if (outcome == LinkOutcome::Answered) {
            responseMs.append(ms);
            timeoutsInRow = 0;
        } else if (outcome == LinkOutcome::Timeout && ++timeoutsInRow >= kTimeoutsToOffline && !offlineSince) {
            offlineSince = QDateTime::currentDateTimeUtc();
        }
    }
};

// Nearest-rank percentile of the answered reads' response times; -1 for none.
double percentile(QVector<double> values, int p)
{
    if (values.isEmpty())
        return -1;
    std::sort(values.begin(), values.end());
    return values[qsizetype((values.size() - 1) * p / 100)];
}

QString msText(double ms) { return ms < 0 ? QStringLiteral("-") : QString::number(ms, 'f', 1) + QStringLiteral(" ms"); }
double msJson(double ms) { return std::round(ms * 10) / 10; }

// The counters as the one-instrument status counts them.
QString countsText(const QJsonObject& exchanges)
{
    QStringList parts;
    for (const char* key : {"answered", "timeout", "crc_error", "exception", "other"})
        parts << QStringLiteral("%1 %2").arg(QLatin1String(key)).arg(exchanges.value(QLatin1String(key)).toInt());
    return parts.join(QStringLiteral(", "));
}

QString loopText(const LoopTally& t)
{
    QString head;
    if (t.lastCycleOk)
        head = QStringLiteral("PV %1, SV %2, OP %3 %")
                   .arg(singleText(t.image.Values[0]), singleText(t.image.Values[2]), singleText(t.image.Values[1]));
    else if (t.offlineSince)
        head = QStringLiteral("offline since %1 (no answer twice in a row)")
                   .arg(t.offlineSince->toString(Qt::ISODateWithMs));
    else
        head = t.lastError;
    return QStringLiteral("address %1: %2\n    %3; response p50 %4, p95 %5\n")
        .arg(t.address, 2)
        .arg(head,
             countsText(StatusReport::from(t.image, t.counters).toJson().value(QStringLiteral("exchanges")).toObject()),
             msText(percentile(t.responseMs, 50)), msText(percentile(t.responseMs, 95)));
}

QJsonObject loopJson(const LoopTally& t)
{
    QJsonObject o{
        {QStringLiteral("address"), t.address},
        {QStringLiteral("answered"), t.lastCycleOk},
        {QStringLiteral("offline_since"),
         t.offlineSince ? QJsonValue(t.offlineSince->toString(Qt::ISODateWithMs)) : QJsonValue()},
        {QStringLiteral("response_ms"), QJsonObject{{QStringLiteral("p50"), msJson(percentile(t.responseMs, 50))},
                                                    {QStringLiteral("p95"), msJson(percentile(t.responseMs, 95))}}}};
    // The loop's values and counters in the shape of a one-instrument status.
    const QJsonObject report = StatusReport::from(t.image, t.counters).toJson();
    if (t.lastCycleOk)
        o.insert(QStringLiteral("status"), report);
    else
        o.insert(QStringLiteral("error"), t.lastError);
    o.insert(QStringLiteral("exchanges"), report.value(QStringLiteral("exchanges")));
    return o;
}

bool readCycles(const QString& text, int* cycles)
{
    const QByteArray bytes = text.toLatin1();
    const char* end = bytes.constData() + bytes.size();
    const auto [ptr, ec] = std::from_chars(bytes.constData(), end, *cycles);
    return ec == std::errc() && ptr == end && *cycles >= 1 && *cycles <= kMaxCycles;
}

// Every loop of the line, cycle after cycle, as the station's line would:
// an address that timed out twice in a row is not asked again.
int runLineStatus(CliContext& cx, InstrumentSession& session, const QVector<int>& addresses, int cycles, bool json)
{
    QVector<LoopTally> tallies;
    for (const int a : addresses) {
        LoopTally t;
        t.address = a;
        tallies.append(t);
    }
    for (int cycle = 0; cycle < cycles; ++cycle) {
        for (LoopTally& t : tallies) {
            if (t.offlineSince)
                continue;
            QString error;
            t.lastCycleOk =
                session.pollAt(t.address, t.image, &error, [&t](LinkOutcome o, double ms) { t.onRead(o, ms); });
            t.lastError = error;
        }
    }

    QVector<int> silent;
    for (const LoopTally& t : tallies)
        if (!t.lastCycleOk)
            silent.append(t.address);
    const QString line = session.busText();
    if (json) {
        QJsonArray loops;
        for (const LoopTally& t : tallies)
            loops.append(loopJson(t));
        const QJsonObject all{
            {QStringLiteral("line"), line}, {QStringLiteral("cycles"), cycles}, {QStringLiteral("loops"), loops}};
        cx.print(QString::fromUtf8(QJsonDocument(all).toJson(QJsonDocument::Indented)));
    } else {
        QString text = QStringLiteral("%1, loops %2, %3 cycle%4:\n")
                           .arg(line, LoopList::format(addresses))
                           .arg(cycles)
                           .arg(cycles == 1 ? QString() : QStringLiteral("s"));
        for (const LoopTally& t : tallies)
            text += loopText(t);
        cx.print(text);
    }
    if (silent.isEmpty())
        return kExitOk;
    return cx.fail(kExitFailed, QStringLiteral("%1 of %2 loops did not answer: %3")
                                    .arg(silent.size())
                                    .arg(addresses.size())
                                    .arg(LoopList::format(silent)));
}

} // namespace

int runStatus(CliContext& cx)
{
    QCommandLineParser parser;
    const QCommandLineOption json(QStringLiteral("json"), QStringLiteral("Print one JSON object instead of text."));
    const QCommandLineOption loops(QStringLiteral("loops"),
                                   QStringLiteral("Every instrument of LIST on the line (e.g. 1-4,7) instead of one "
                                                  "--address: values, exchange counters and response times per loop."),
                                   QStringLiteral("LIST"));
    const QCommandLineOption cycles(
        QStringLiteral("cycles"),
        QStringLiteral("With --loops: polling cycles per loop, 1-%1 (default 1).").arg(kMaxCycles),
        QStringLiteral("N"));
    parser.addOptions({json, loops, cycles});
    InstrumentOptions options;
    int code = kExitOk;
    if (!cx.parseInstrument(parser, QStringLiteral("[--json] [--loops LIST [--cycles N]] [instrument options]"),
                            QStringLiteral("Reads the instrument once, as one polling cycle of the station, and prints "
                                           "PV, SV, OP, the auxiliary channel, the alarm settings and types, alarm and "
                                           "sensor states, modes and the exchange counters. With --loops, every loop "
                                           "of the line: exit 1 when any did not answer."),
                            &options, &code))
        return code;
    if (const int refused = cx.refuseArguments(parser))
        return refused;

    QVector<int> addresses;
    int cycleCount = 1;
    if (parser.isSet(loops)) {
        if (parser.isSet(QStringLiteral("address")))
            return cx.usage(QStringLiteral("--address and --loops exclude each other"));
        QString why;
        addresses = LoopList::parse(parser.value(loops), &why);
        if (addresses.isEmpty())
            return cx.usage(QStringLiteral("--loops: %1").arg(why));
        if (parser.isSet(cycles) && !readCycles(parser.value(cycles), &cycleCount))
            return cx.usage(
                QStringLiteral("--cycles: \"%1\" is not a number 1-%2").arg(parser.value(cycles)).arg(kMaxCycles));
    } else if (parser.isSet(cycles)) {
        return cx.usage(QStringLiteral("--cycles applies with --loops only"));
    }

    QString error;
    InstrumentSession session(options);
    if (!session.open(&error))
        return cx.fail(kExitFailed, error);
    if (!addresses.isEmpty())
        return runLineStatus(cx, session, addresses, cycleCount, parser.isSet(json));

    LiveImage image;
    if (!session.poll(image, &error))
        return cx.fail(kExitFailed, error);

    const StatusReport report = StatusReport::from(image, session.counters());
    if (parser.isSet(json))
        cx.print(QString::fromUtf8(QJsonDocument(report.toJson()).toJson(QJsonDocument::Indented)));
    else
        cx.print(report.toText());
    return kExitOk;
}
