#include "CommandLine.h"
#include "Language.h"
#include "LineBus485.h"
#include "SimServer.h"
#include "StationApp.h"
#include "TerminationSignals.h"

#include <QApplication>
#include <QFont>
#include <QFontDatabase>
#include <QLibraryInfo>
#include <QTranslator>
#include <cstdio>

int main(int argc, char* argv[])
{
    // The command line is checked before any window system is touched, so
    // --help, --version and mistakes work on a machine without a display.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const CommandLineResult cli = parseCommandLine(arguments);
    if (!cli.run) {
        std::fputs(cli.output.toLocal8Bit().constData(), cli.exitCode == 0 ? stdout : stderr);
        if (cli.exitCode != 0)
            std::fputc('\n', stderr);
        return cli.exitCode;
    }

    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("px5800"));
    QApplication::setApplicationName(QStringLiteral("px5800"));
    QApplication::setApplicationVersion(QStringLiteral(PX5800_VERSION));

    // Simplified-Chinese glyphs whatever the locale: under C.UTF-8 fontconfig
    // would otherwise pick the Japanese variant of the CJK font.
    QFont font(QStringLiteral("Noto Sans CJK SC"));
    font.setPointSize(10);
    QApplication::setFont(font);

    // The language is settled before the first window exists: widgets take
    // their texts when they are built.
    const Language::Choice language = Language::choose(cli.options.language, qEnvironmentVariable("PX5800_LANG"));
    if (!language.warning.isEmpty())
        std::fprintf(stderr, "%s\n", qPrintable(language.warning));
    QTranslator translator;
    QString languageError;
    if (!Language::install(translator, language.code, Language::searchPath(QApplication::applicationDirPath()),
                           &languageError))
        std::fprintf(stderr, "%s\n", qPrintable(languageError));
    QTranslator qtTranslator;
    Language::installQt(qtTranslator, language.code, QLibraryInfo::path(QLibraryInfo::TranslationsPath));

    StationOptions options = cli.options;

    // --demo: the simulated instrument runs in this process on a
    // pseudo-terminal, port 1 is mapped to it and the station connects.
    std::unique_ptr<SimServer> simulator;
    if (options.demo) {
        SimOptions simOptions;
        simOptions.speed = options.demoSpeed;
        // With loops, one simulated instrument (its own plant) per address.
        for (const LoopOption& loop : options.lines.value(0).loops)
            simOptions.addresses.push_back(loop.address);
        simulator = std::make_unique<SimServer>(simOptions);
        QString error;
        if (!simulator->start(&error)) {
            std::fprintf(stderr, "px5800: the simulated instrument could not start: %s\n", qPrintable(error));
            return 1;
        }
        const int port = options.lines.isEmpty() ? 1 : options.lines.first().portNumber;
        options.ports.map(port, simulator->devicePath());
        options.connect = true;
        if (options.portNumber < 0)
            options.portNumber = port;
    }

    StationApp station(options, makeLineBus(options.ports), LinkClient::Mode::Threaded);
    QObject::connect(&station, &StationApp::finished, &app, &QApplication::quit, Qt::QueuedConnection);
    QApplication::setQuitOnLastWindowClosed(false);
    // Ended from outside (service manager, logout, Ctrl-C): the same way
    // out as the operator's 退出, through the shutdown below. exit(), not
    // quit(): quit() is cancelled by a window that refuses to close.
    TerminationSignals termination;
    QObject::connect(&termination, &TerminationSignals::received, &app, [] { QCoreApplication::exit(0); });
    station.start();
    const int rc = app.exec();
    station.shutdown(); // the link lets go of the line before the simulator stops
    return rc;
}
