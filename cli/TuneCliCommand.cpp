#include "HistoryLocation.h"
#include "CliApp.h"
#include "TuneCommand.h"

#include <QTextStream>

int runTune(CliContext& cx)
{
    QCommandLineParser parser;
    const QCommandLineOption database(QStringLiteral("database"), QStringLiteral("History database file (read only)."),
                                      QStringLiteral("DB"));
    const QCommandLineOption from(QStringLiteral("from"),
                                  QStringLiteral("Start of the step test, local time, \"YYYY-MM-DD HH:MM:SS\"."),
                                  QStringLiteral("TIME"));
    const QCommandLineOption to(QStringLiteral("to"), QStringLiteral("Its end, in the same form (included)."),
                                QStringLiteral("TIME"));
    const QCommandLineOption json(QStringLiteral("json"),
                                  QStringLiteral("One JSON object: gain, time_constant_s, dead_time_s, r2, pid, ..."));
    parser.addOptions({database, from, to, json});
    int code = kExitOk;
    if (!cx.parse(parser, QStringLiteral("--database DB --from TIME --to TIME [--json]"),
                  QStringLiteral("Fits a first-order-plus-dead-time model to PV against OP over a period of the "
                                 "1 s history and suggests PI and PID settings in the instrument's units.\n"
                                 "Exit codes: 0 suggestions printed, 1 the database or the period could not be "
                                 "read, 2 bad usage, 4 the fit is too poor (or the step too small) to suggest."),
                  &code))
        return code;
    if (const int refused = cx.refuseArguments(parser))
        return refused;

    TuneCommand::Request request;
    request.databasePath = parser.value(database);
    request.json = parser.isSet(json);
    if (request.databasePath.isEmpty())
        return cx.usage(QStringLiteral("--database DB is required"));
    // A URL that cannot be a location is bad usage, as on the station's command line.
    if (QString why; !HistoryLocation::parse(request.databasePath, &why))
        return cx.usage(QStringLiteral("--database: %1").arg(why));
    for (const auto& [option, bound] : {std::pair{&from, &request.from}, std::pair{&to, &request.to}}) {
        const QString text = unprotect(parser.value(*option));
        if (text.isEmpty())
            return cx.usage(QStringLiteral("--%1 TIME is required").arg(option->names().first()));
        *bound = TuneCommand::parseTime(text);
        if (!bound->isValid())
            return cx.usage(QStringLiteral("--%1 expects \"YYYY-MM-DD HH:MM:SS\" (a real date and time), got \"%2\"")
                                .arg(option->names().first(), text));
    }
    if (request.from >= request.to)
        return cx.usage(QStringLiteral("--from must be earlier than --to"));

    QString error;
    QTextStream out(&cx.out());
    out.setEncoding(QStringConverter::Utf8);
    const int rc = TuneCommand::execute(request, out, &error);
    out.flush();
    switch (rc) {
    case TuneCommand::kSuggested: return kExitOk;
    case TuneCommand::kNoSuggestion:
        return cx.fail(kExitNoSuggestion, QStringLiteral("no suggestion: the fit is too poor or the step too small"));
    default: return cx.fail(kExitFailed, error);
    }
}
