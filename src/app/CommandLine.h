#pragma once
#include "StationFile.h"
#include "BrokerUrl.h"
#include "PortSettings.h"

#include <QString>
#include <QStringList>

struct StationOptions {
    PortMap ports;
    QString databasePath; // empty: the default path
    QString journalPath;  // empty: Journal.db beside the history database
    bool connect = false; // press "打开" once the main window is up
    int portNumber = -1;  // -1: leave the panel's default
    int address = -1;
    int baudIndex = -1;
    int parityIndex = -1;
    bool demo = false; // run the simulated instrument in-process on port 1
    double demoSpeed = 1.0;
    QString language;  // --lang: "zh" or "en"; empty when not given
    QString station;   // --station, default px5800_<address>
    bool mqtt = false; // publish to the broker in `broker`
    BrokerSettings broker;
    // Several instruments: the lines and their loops (--loops, or the station
    // file). Empty: the station of one instrument.
    QVector<LineOptions> lines;
};

struct CommandLineResult {
    bool run = true;  // false: exit at once with exitCode after printing `output`
    int exitCode = 0; // 0 for --help / --version, 2 for a bad command line
    QString output;   // text for stdout (help, version) or stderr (error)
    StationOptions options;
};

CommandLineResult parseCommandLine(const QStringList& arguments);

// The history database the station records into: --database when given;
// otherwise the default file, or with --demo a Demo.db beside it, so that
// simulated samples never mix with a plant's history.
QString databasePathFor(const StationOptions& options);
