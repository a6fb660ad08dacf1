#include "HistoryLocation.h"
#include "CliApp.h"
#include "TuneCommand.h"

#include <QCoreApplication>
#include <QDir>
#include <QTextStream>
#include <QTranslator>

namespace {

// The report's words follow the station's language rule: Chinese unless
// PX5800_LANG=en (the cli's own messages are English either way).
bool installEnglish(QTranslator& translator)
{
    if (qEnvironmentVariable("PX5800_LANG").trimmed().toLower() != QLatin1String("en"))
        return false;
    QStringList folders{
        QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/../share/px5800/translations"))};
#ifdef PX5800_BUILD_TRANSLATIONS
    folders << QStringLiteral(PX5800_BUILD_TRANSLATIONS);
#endif
    for (const QString& folder : folders)
        if (translator.load(QStringLiteral("px5800_en"), folder))
            return QCoreApplication::installTranslator(&translator);
    return false;
}

} // namespace

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
    if (!cx.parse(
            parser, QStringLiteral("--database DB --from TIME --to TIME [--json]"),
            QStringLiteral("Fits a first-order-plus-dead-time model to PV against OP over a period of the "
                           "1 s history and suggests PI and PID settings in the instrument's units.\n"
                           "Exit codes: 0 suggestions printed, 1 the database or the period could not be "
                           "read, 2 bad usage, 4 no suggestion: the record cannot be trusted (a stale stretch, too "
                           "short, no step or one too small, dead time beyond the window) or the fit is too poor; "
                           "the reason is printed."),
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

    QTranslator english; // removed from the application when it goes
    installEnglish(english);
    QString error;
    QTextStream out(&cx.out());
    out.setEncoding(QStringConverter::Utf8);
    const int rc = TuneCommand::execute(request, out, &error);
    out.flush();
    switch (rc) {
    case TuneCommand::kSuggested: return kExitOk;
    case TuneCommand::kNoSuggestion:
        return cx.fail(kExitNoSuggestion, error); // the reason, already saying there is no suggestion
    default: return cx.fail(kExitFailed, error);
    }
}
