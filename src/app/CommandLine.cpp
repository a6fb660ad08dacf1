#include "CommandLine.h"
#include "LoopList.h"
#include "HistoryLocation.h"
#include "HistoryStore.h"
#include "Language.h"
#include "PortSettings.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>

namespace {
CommandLineResult failure(const QString& message)
{
    CommandLineResult r;
    r.run = false;
    r.exitCode = 2;
    r.output = QStringLiteral("px5800: %1 (see --help)").arg(message);
    return r;
}
} // namespace

CommandLineResult parseCommandLine(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "PX5800 operator station: polls the temperature controller on an RS-485 line, records its history "
        "and lets the operator set values, modes and parameters."));
    // Our own help option: the parser's adds --help-all, which lists the
    // toolkit's options and needs an application object this early stage
    // must not create (no display may be needed for --help).
    const QCommandLineOption helpOption({QStringLiteral("h"), QStringLiteral("help")},
                                        QStringLiteral("Displays help on commandline options."));
    parser.addOption(helpOption);
    const QCommandLineOption versionOption({QStringLiteral("v"), QStringLiteral("version")},
                                           QStringLiteral("Displays version information."));
    parser.addOption(versionOption);
    const QCommandLineOption port(
        {QStringLiteral("port")},
        QStringLiteral("Serial device or gateway (tcp://HOST[:PORT], rtu+tcp://HOST:PORT) behind port N "
                       "(1-20); repeatable. "
                       "Default: port N is /dev/ttyUSB<N-1>."),
        QStringLiteral("N=DEVICE"));
    const QCommandLineOption database({QStringLiteral("database")},
                                      QStringLiteral("History database file (default: Rdatabj.db in the "
                                                     "user's application data folder), or a server: "
                                                     "postgresql://[user@][host][:port]/dbname"
                                                     "[?host=SOCKET_DIR][&port=N][&station=NAME] "
                                                     "(password from ~/.pgpass or PGPASSFILE)."),
                                      QStringLiteral("PATH|URL"));
    const QCommandLineOption journal({QStringLiteral("journal")},
                                     QStringLiteral("Event journal file (default: Journal.db in the history "
                                                    "database's folder; with a server history, the events "
                                                    "table in the station's schema there)."),
                                     QStringLiteral("PATH"));
    const QCommandLineOption connect({QStringLiteral("connect")},
                                     QStringLiteral("Press \"打开\" as soon as the main window is up."));
    const QCommandLineOption portNumber({QStringLiteral("port-number")},
                                        QStringLiteral("Port preselected in the panel (1-20)."), QStringLiteral("N"));
    const QCommandLineOption address({QStringLiteral("address")},
                                     QStringLiteral("Instrument address preselected in the panel (1-16)."),
                                     QStringLiteral("N"));
    const QCommandLineOption baud({QStringLiteral("baud")}, QStringLiteral("Baud rate: %1.").arg(baudRatesText()),
                                  QStringLiteral("RATE"));
    const QCommandLineOption parity({QStringLiteral("parity")}, QStringLiteral("Parity: none, odd or even."),
                                    QStringLiteral("MODE"));
    const QCommandLineOption demo({QStringLiteral("demo")},
                                  QStringLiteral("Run the simulated instrument in-process, map port 1 to it "
                                                 "and connect."));
    const QCommandLineOption speed({QStringLiteral("demo-speed")},
                                   QStringLiteral("Simulated time runs K times faster in --demo (default 1)."),
                                   QStringLiteral("K"));
    const QCommandLineOption lang({QStringLiteral("lang")},
                                  QStringLiteral("Interface language: zh (default) or en. Without it, "
                                                 "PX5800_LANG decides."),
                                  QStringLiteral("LANG"));
    const QCommandLineOption station(
        {QStringLiteral("station")},
        QStringLiteral("Station name in published topics and, unless the database URL names one, the "
                       "server schema (default px5800_<address>)."),
        QStringLiteral("NAME"));
    const QCommandLineOption mqtt({QStringLiteral("mqtt")},
                                  QStringLiteral("Publish values and events to this MQTT broker: "
                                                 "mqtt://[user@]HOST[:PORT] or mqtts://..."),
                                  QStringLiteral("URL"));
    const QCommandLineOption mqttCa({QStringLiteral("mqtt-ca")},
                                    QStringLiteral("CA certificate for an mqtts:// broker."), QStringLiteral("FILE"));
    const QCommandLineOption mqttPassword({QStringLiteral("mqtt-password-file")},
                                          QStringLiteral("File whose first line is the broker password."),
                                          QStringLiteral("FILE"));
    const QCommandLineOption loops({QStringLiteral("loops")},
                                   QStringLiteral("Poll several instruments on the line of the selected port: "
                                                  "addresses 1-16, e.g. 1-4,7."),
                                   QStringLiteral("LIST"));
    const QCommandLineOption stationFile({QStringLiteral("station-file")},
                                         QStringLiteral("Lines, loops and loop names (INI; default: "
                                                        "px5800/station.ini in the user's configuration folder "
                                                        "when it exists). The command line wins over it."),
                                         QStringLiteral("FILE"));
    parser.addOptions({port, database, journal, connect, portNumber, address, baud, parity, demo, speed, lang, station,
                       mqtt, mqttCa, mqttPassword, loops, stationFile});

    if (!parser.parse(arguments))
        return failure(parser.errorText());
    if (parser.isSet(helpOption)) {
        CommandLineResult r;
        r.run = false;
        // The parser names the program after the running file, or
        // "<executable_name>" before an application object exists.
        r.output = parser.helpText();
        const qsizetype name = QStringLiteral("Usage: ").size();
        const qsizetype end = r.output.indexOf(QStringLiteral(" [options]"));
        if (r.output.startsWith(QStringLiteral("Usage: ")) && end > name)
            r.output.replace(name, end - name, QStringLiteral("px5800"));
        return r;
    }
    if (parser.isSet(versionOption)) {
        CommandLineResult r;
        r.run = false;
        r.output = QStringLiteral("px5800 %1\n").arg(QStringLiteral(PX5800_VERSION));
        return r;
    }
    if (!parser.positionalArguments().isEmpty())
        return failure(QStringLiteral("unexpected argument \"%1\"").arg(parser.positionalArguments().first()));

    CommandLineResult result;
    StationOptions& o = result.options;
    // The station file first: what the command line says wins over it.
    std::optional<StationFile::Contents> file;
    if (parser.isSet(stationFile) || (!parser.isSet(loops) && QFileInfo::exists(StationFile::defaultPath()))) {
        QString why;
        file =
            StationFile::read(parser.isSet(stationFile) ? parser.value(stationFile) : StationFile::defaultPath(), &why);
        if (!file)
            return failure(QStringLiteral("--station-file: %1").arg(why));
        o.ports = file->ports;
    }
    for (const QString& mapping : parser.values(port)) {
        QString error;
        if (!o.ports.parseMapping(mapping, &error))
            return failure(error);
    }
    o.databasePath = parser.value(database);
    if (parser.isSet(database) && o.databasePath.trimmed().isEmpty())
        return failure(QStringLiteral("--database needs a file path"));
    o.journalPath = parser.value(journal);
    if (parser.isSet(journal) && o.journalPath.trimmed().isEmpty())
        return failure(QStringLiteral("--journal needs a file path"));
    if (QString why; parser.isSet(database) && !HistoryLocation::parse(o.databasePath, &why))
        return failure(QStringLiteral("--database: %1").arg(why));
    o.connect = parser.isSet(connect);
    struct LineOptionAt {
        const QCommandLineOption& option;
        LineOption rule;
        int* out;
    };
    const LineOptionAt lineOptions[] = {
        {portNumber, LineOption::PortNumber, &o.portNumber},
        {address, LineOption::Address, &o.address},
        {baud, LineOption::Baud, &o.baudIndex},
        {parity, LineOption::Parity, &o.parityIndex},
    };
    for (const LineOptionAt& l : lineOptions)
        if (parser.isSet(l.option))
            if (const QString why = parseLineOption(l.rule, parser.value(l.option), l.out); !why.isEmpty())
                return failure(why);
    if (parser.isSet(loops)) {
        QString why;
        const QVector<int> addresses = LoopList::parse(parser.value(loops), &why);
        if (addresses.isEmpty())
            return failure(QStringLiteral("--loops: %1").arg(why));
        LineOptions line;
        // Without --port-number the loops replace the file's first line's.
        const bool fileHasLines = file && !file->lines.isEmpty();
        line.portNumber = o.portNumber > 0 ? o.portNumber : fileHasLines ? file->lines.first().portNumber : 1;
        const LineOptions* named = file ? file->lineOnPort(line.portNumber) : nullptr;
        line.baudIndex = named ? named->baudIndex : -1;
        line.parityIndex = named ? named->parityIndex : -1;
        for (const int a : addresses) {
            QString name;
            for (const LoopOption& l : named ? named->loops : QVector<LoopOption>())
                if (l.address == a)
                    name = l.name;
            line.loops.append({a, name});
        }
        o.lines = {line};
    } else if (file) {
        o.lines = file->lines;
    }
    if (!o.lines.isEmpty()) {
        if (parser.isSet(address))
            return failure(QStringLiteral("--address chooses one instrument; with loops each loop has its own"));
        // The command line's line settings are the first line's.
        LineOptions& first = o.lines.first();
        if (o.portNumber > 0)
            first.portNumber = o.portNumber;
        if (o.baudIndex >= 0)
            first.baudIndex = o.baudIndex;
        if (o.parityIndex >= 0)
            first.parityIndex = o.parityIndex;
        if (parser.isSet(demo) && o.lines.size() > 1)
            return failure(QStringLiteral("--demo simulates one line; the station file names %1").arg(o.lines.size()));
    }
    o.demo = parser.isSet(demo);
    if (parser.isSet(speed)) {
        bool ok = false;
        o.demoSpeed = parser.value(speed).toDouble(&ok);
        if (!ok || o.demoSpeed <= 0 || o.demoSpeed > 1000)
            return failure(QStringLiteral("--demo-speed expects a number from 0 to 1000"));
    }
    if (parser.isSet(lang)) {
        o.language = parser.value(lang).toLower();
        if (!Language::isKnown(o.language))
            return failure(QStringLiteral("--lang expects zh or en"));
    }
    // One name for the topics and the schema: --station, else the URL's
    // station, else the address's default. The URL's station still names the
    // schema when both are given.
    const auto location = parser.isSet(database) ? HistoryLocation::parse(o.databasePath) : std::nullopt;
    if (parser.isSet(station))
        o.station = parser.value(station);
    else if (location && location->server && !location->station.isEmpty())
        o.station = location->station;
    else if (!o.lines.isEmpty())
        o.station = QStringLiteral("px5800"); // each loop adds its address
    else
        o.station = defaultStationName(o.address > 0 ? o.address : 1);
    if (!isValidHistoryStation(o.station) || !isValidStationName(o.station))
        return failure(
            QStringLiteral("--station \"%1\" cannot name the station's topics and schema: lower-case letters, "
                           "digits and _, not starting with a digit, at most 63")
                .arg(o.station));
    for (const LineOptions& line : o.lines) {
        for (const LoopOption& loop : line.loops) {
            QString why;
            const QString base = withDefaultStation(databasePathFor(o), o.station, 1);
            if (!loopHistoryLocation(base, loop.address, &why))
                return failure(QStringLiteral("loop %1: %2").arg(loop.address).arg(why));
        }
    }
    if ((parser.isSet(mqttCa) || parser.isSet(mqttPassword)) && !parser.isSet(mqtt))
        return failure(QStringLiteral("--mqtt-ca and --mqtt-password-file need --mqtt"));
    if (parser.isSet(mqtt)) {
        QString error;
        if (!parseBrokerUrl(parser.value(mqtt), &o.broker, &error))
            return failure(error);
        o.mqtt = true;
        if (parser.isSet(mqttCa)) {
            if (!o.broker.tls)
                return failure(QStringLiteral("--mqtt-ca needs an mqtts:// broker"));
            o.broker.caFile = parser.value(mqttCa);
            if (!QFileInfo(o.broker.caFile).isReadable())
                return failure(QStringLiteral("--mqtt-ca: cannot read %1").arg(o.broker.caFile));
        }
        if (parser.isSet(mqttPassword)) {
            if (o.broker.user.isEmpty())
                return failure(QStringLiteral("--mqtt-password-file needs a user: mqtt://USER@HOST"));
            if (!readPasswordFile(parser.value(mqttPassword), &o.broker.password, &error))
                return failure(error);
        }
    }
    return result;
}

QString databasePathFor(const StationOptions& options)
{
    if (!options.databasePath.isEmpty())
        return options.databasePath;
    const QString standard = defaultDatabasePath();
    if (!options.demo)
        return standard;
    return QFileInfo(standard).path() + QStringLiteral("/Demo.db");
}
