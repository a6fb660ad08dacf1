#pragma once
#include "CliJournal.h"
#include "PortSettings.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QIODevice>
#include <QStringList>
#include <memory>

// Exit codes of every subcommand.
enum CliExit {
    kExitOk = 0,
    kExitFailed = 1,    // the instrument or the database failed
    kExitUsage = 2,     // bad usage, or a value the station's rules refuse
    kExitDifferent = 3, // reserved: a comparison found differences
};

// What a subcommand runs with: its arguments (after the command name), the
// two output streams and the journal.
class CliContext {
public:
    CliContext(QString command, QStringList arguments, QIODevice& out, QIODevice& err)
        : command_(std::move(command)), arguments_(std::move(arguments)), out_(out), err_(err)
    {
    }
    const QString& command() const { return command_; }
    const QStringList& arguments() const { return arguments_; }
    QIODevice& out() { return out_; }

    void print(const QString& text) { out_.write(text.toUtf8()); }
    // One line on stderr, "px5800-cli COMMAND: message"; returns `code`.
    int fail(int code, const QString& message);
    // A bad command line: the message and where to find help; returns 2.
    int usage(const QString& message);

    // Parses the arguments; on --help prints the help and sets `*exitCode`
    // to 0, on a bad command line prints one line and sets it to 2.
    // Returns whether the command should run.
    // `synopsis` is the usage line after "px5800-cli COMMAND".
    bool parse(QCommandLineParser& parser, const QString& synopsis, const QString& description, int* exitCode);

    CliJournal& journal();
    void setJournalPath(const QString& path) { journalPath_ = path; }

private:
    QString command_;
    QStringList arguments_;
    QIODevice& out_;
    QIODevice& err_;
    QString journalPath_;
    std::unique_ptr<CliJournal> journal_;
};

// The station's instrument options: --port N=DEVICE (repeatable),
// --port-number, --address, --baud, --parity and --journal. Defaults are
// the station panel's: port 1, address 1, 9600 bit/s, no parity.
struct InstrumentOptions {
    PortMap ports;
    PortSettings settings{1, 1, 0, 1};
    QString journalPath;
    QString device() const { return ports.deviceFor(settings.port); }
};

class InstrumentOptionSet {
public:
    void addTo(QCommandLineParser& parser) const;
    // False with one line saying what is wrong.
    bool read(const QCommandLineParser& parser, InstrumentOptions* options, QString* error) const;

private:
    QCommandLineOption port_{QStringLiteral("port"),
                             QStringLiteral("Serial device behind port N (1-20); repeatable. "
                                            "Default: port N is /dev/ttyUSB<N-1>."),
                             QStringLiteral("N=DEVICE")};
    QCommandLineOption portNumber_{QStringLiteral("port-number"), QStringLiteral("Port to use (1-20, default 1)."),
                                   QStringLiteral("N")};
    QCommandLineOption address_{QStringLiteral("address"), QStringLiteral("Instrument address (1-16, default 1)."),
                                QStringLiteral("N")};
    QCommandLineOption baud_{QStringLiteral("baud"), QStringLiteral("4800, 9600 or 19200 (default 9600)."),
                             QStringLiteral("RATE")};
    QCommandLineOption parity_{QStringLiteral("parity"), QStringLiteral("none, odd or even (default none)."),
                               QStringLiteral("MODE")};
    QCommandLineOption journal_{QStringLiteral("journal"),
                                QStringLiteral("Event journal for the writes (default: beside the history)."),
                                QStringLiteral("PATH")};
};

// Numbers on the command line that begin with a minus sign ("-50") are
// values, not options: marks them so QCommandLineParser leaves them
// positional, and takes the mark off again.
QStringList protectNegativeNumbers(const QStringList& arguments);
QString unprotect(const QString& argument);
