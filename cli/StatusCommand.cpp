#include "CliApp.h"
#include "InstrumentSession.h"
#include "NumberText.h"
#include "StatusReport.h"

#include <QJsonDocument>

int runStatus(CliContext& cx)
{
    QCommandLineParser parser;
    const QCommandLineOption json(QStringLiteral("json"), QStringLiteral("Print one JSON object instead of text."));
    parser.addOption(json);
    InstrumentOptions options;
    int code = kExitOk;
    if (!cx.parseInstrument(parser, QStringLiteral("[--json] [instrument options]"),
                            QStringLiteral("Reads the instrument once, as one polling cycle of the station, and prints "
                                           "PV, SV, OP, the auxiliary channel, the alarm settings and types, alarm and "
                                           "sensor states, modes and the exchange counters."),
                            &options, &code))
        return code;
    if (const int refused = cx.refuseArguments(parser))
        return refused;

    QString error;
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
