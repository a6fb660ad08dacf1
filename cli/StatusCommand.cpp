#include "CliApp.h"
#include "InstrumentSession.h"
#include "NumberText.h"
#include "StatusReport.h"

#include <QJsonDocument>

int runStatus(CliContext& cx)
{
    QCommandLineParser parser;
    InstrumentOptionSet instrument;
    instrument.addTo(parser);
    const QCommandLineOption json(QStringLiteral("json"), QStringLiteral("Print one JSON object instead of text."));
    parser.addOption(json);
    int code = kExitOk;
    if (!cx.parse(parser, QStringLiteral("[--json] [instrument options]"),
                  QStringLiteral("Reads the instrument once, as one polling cycle of the station, and prints "
                                 "PV, SV, OP, the auxiliary channel, the alarm settings and types, alarm and "
                                 "sensor states, modes and the exchange counters."),
                  &code))
        return code;
    if (!parser.positionalArguments().isEmpty())
        return cx.usage(QStringLiteral("unexpected argument \"%1\"").arg(unprotect(parser.positionalArguments().first())));
    InstrumentOptions options;
    QString error;
    if (!instrument.read(parser, &options, &error))
        return cx.usage(error);

    InstrumentSession session(options);
    if (!session.open(&error))
        return cx.fail(kExitFailed, error);
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
