#pragma once
#include "PortSettings.h"

#include <QString>
#include <QVector>
#include <optional>

// One instrument of a line, and its name ("1区上部"; may be empty).
struct LoopOption {
    int address = 0;
    QString name;
};

// One RS-485 line and the loops polled on it.
struct LineOptions {
    int portNumber = 1;   // the port the line is reached through
    int baudIndex = -1;   // -1: 9600
    int parityIndex = -1; // -1: none
    QVector<LoopOption> loops;
};

// The station file (INI): a group per line,
//
//   [line1]
//   port=1                      ; the port number (1-20)
//   device=tcp://10.0.0.5:502   ; optional: what the port is (as --port N=DEVICE)
//   baud=9600
//   parity=none
//   loops=1-4,7
//   name3=1区上部
//
// read in the order line1, line2, ...
namespace StationFile {

// px5800/station.ini in the user's configuration folder.
QString defaultPath();

struct Contents {
    QVector<LineOptions> lines;
    PortMap ports; // the devices the file names
    const LineOptions* lineOnPort(int port) const;
};

// The file's lines, or nothing with the reason (naming the file and the group) in `error`.
std::optional<Contents> read(const QString& path, QString* error);

} // namespace StationFile
