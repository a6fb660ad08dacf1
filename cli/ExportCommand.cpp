#include "HistoryLocation.h"
#include "CliApp.h"
#include "HistoryExport.h"

#include <QSaveFile>

int runExport(CliContext& cx)
{
    QCommandLineParser parser;
    const QCommandLineOption database(QStringLiteral("database"), QStringLiteral("History database file."),
                                      QStringLiteral("DB"));
    const QCommandLineOption ring(QStringLiteral("ring"),
                                  QStringLiteral("1s (one sample a second) or 10s (one every ten seconds)."),
                                  QStringLiteral("1s|10s"));
    const QCommandLineOption from(QStringLiteral("from"),
                                  QStringLiteral("First moment, local time, \"YYYY-MM-DD HH:MM:SS\" or a date "
                                                 "(from its start); default: the oldest sample."),
                                  QStringLiteral("TIME"));
    const QCommandLineOption to(QStringLiteral("to"),
                                QStringLiteral("Last moment, inclusive, in the same form (a date: to its end); "
                                               "default: the newest sample."),
                                QStringLiteral("TIME"));
    const QCommandLineOption out(QStringLiteral("out"),
                                 QStringLiteral("CSV file to write (replaced only when the export succeeds); "
                                                "- or none: standard output."),
                                 QStringLiteral("FILE"));
    const QCommandLineOption address(QStringLiteral("address"),
                                     QStringLiteral("The loop (instrument address 1-16) of a line whose history to "
                                                    "read: the file beside DB with _N before its suffix (h.db -> "
                                                    "h_3.db), or on a server the schema STATION_N."),
                                     QStringLiteral("N"));
    parser.addOptions({database, ring, from, to, out, address});
    int code = kExitOk;
    if (!cx.parse(parser,
                  QStringLiteral("--database DB [--address N] --ring 1s|10s [--from TIME] [--to TIME] [--out FILE|-]"),
                  QStringLiteral("Writes one history ring as CSV (UTF-8, header time,pv,op,sv,aux) in time "
                                 "order. The database is only read, also while the station records into it."),
                  &code))
        return code;
    if (const int refused = cx.refuseArguments(parser))
        return refused;

    ExportRequest request;
    request.databasePath = parser.value(database);
    if (request.databasePath.isEmpty())
        return cx.usage(QStringLiteral("--database DB is required"));
    // A URL that cannot be a location is bad usage, as on the station's command line.
    if (QString why; !HistoryLocation::parse(request.databasePath, &why))
        return cx.usage(QStringLiteral("--database: %1").arg(why));
    if (parser.isSet(address)) {
        bool ok = false;
        const int n = parser.value(address).toInt(&ok); // C locale: digits only
        QString why;
        const auto loop = ok ? loopHistoryLocation(request.databasePath, n, &why) : std::nullopt;
        if (!loop)
            return cx.usage(
                QStringLiteral("--address expects 1-16, got \"%1\"%2")
                    .arg(parser.value(address), why.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(why)));
        request.databasePath = *loop;
    }
    const QString ringText = parser.value(ring);
    if (ringText == u"1s")
        request.ring = HistoryRing::Short;
    else if (ringText == u"10s")
        request.ring = HistoryRing::Long;
    else
        return cx.usage(ringText.isEmpty() ? QStringLiteral("--ring 1s|10s is required")
                                           : QStringLiteral("--ring expects 1s or 10s, got \"%1\"").arg(ringText));
    for (const auto& [option, bound, endOfDay] :
         {std::tuple{&from, &request.from, false}, std::tuple{&to, &request.to, true}}) {
        if (!parser.isSet(*option))
            continue;
        const QString text = unprotect(parser.value(*option));
        *bound = parseHistorySecond(text, endOfDay);
        if (!*bound)
            return cx.usage(QStringLiteral("--%1 expects \"YYYY-MM-DD HH:MM:SS\" (a real date and time), got \"%2\"")
                                .arg(option->names().first(), text));
    }
    if (request.from && request.to && *request.from > *request.to)
        return cx.usage(QStringLiteral("--from is later than --to"));

    // Rows that cannot be true are left out of the file, and said so.
    const auto done = [&cx](const ExportResult& r) {
        if (r.skipped > 0)
            cx.errorLine(QStringLiteral("skipped %1 of %2 rows: impossible time or a value that is not a finite number")
                             .arg(r.skipped)
                             .arg(r.rows + r.skipped));
        return kExitOk;
    };
    const QString outPath = parser.value(out);
    if (outPath.isEmpty() || outPath == u"-") {
        const ExportResult r = HistoryExport::run(request, cx.out());
        return r.ok() ? done(r) : cx.fail(kExitFailed, r.error);
    }
    QSaveFile file(outPath);
    if (!file.open(QIODevice::WriteOnly))
        return cx.fail(kExitFailed, QStringLiteral("cannot write %1: %2").arg(outPath, file.errorString()));
    const ExportResult r = HistoryExport::run(request, file);
    if (!r.ok()) {
        file.cancelWriting();
        return cx.fail(kExitFailed, r.error);
    }
    if (!file.commit())
        return cx.fail(kExitFailed, QStringLiteral("cannot write %1: %2").arg(outPath, file.errorString()));
    return done(r);
}
