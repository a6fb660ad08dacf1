#pragma once
#include <QDateTime>
#include <QStringList>
#include <QTextStream>

// What px5800-cli tune does once its command line is read (the cli parses it):
// fits the process model to a period of the one-second history and prints
// K, τ, θ, R² and the suggested settings in the instrument's units. The
// database is opened read-only. Exit status as px5800-cli's: see Exit.
namespace TuneCommand {

enum Exit {
    kSuggested = 0,    // model fitted, suggestions printed
    kUnreadable = 1,   // the database or the period could not be read
    kUsage = 2,        // wrong command line
    kNoSuggestion = 4, // model fitted but too poor (or the step too small) to suggest
};

struct Request {
    QString databasePath;
    QDateTime from, to; // local time, both included
    bool json = false;
};

// "YYYY-MM-DD HH:MM:SS" local time; invalid for anything else.
QDateTime parseTime(const QString& text);

// Reads the period, fits and prints to `out`. kUnreadable with `*error`;
// kNoSuggestion with the reason in `*error`.
int execute(const Request& request, QTextStream& out, QString* error);
} // namespace TuneCommand
