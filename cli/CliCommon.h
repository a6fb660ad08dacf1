#pragma once
#include "CliJournal.h"
#include "PortSettings.h"

#include <QCommandLineParser>
#include <QIODevice>
#include <QStringList>
#include <memory>

// Exit codes of every subcommand.
enum CliExit {
    kExitOk = 0,
    kExitFailed = 1,       // the instrument or the database failed
    kExitUsage = 2,        // bad usage, or a value the station's rules refuse
    kExitDifferent = 3,    // params: the instrument and the file differ
    kExitNoSuggestion = 4, // tune: a model was fitted but too poor to suggest settings
};

// The station's instrument options: --port N=DEVICE (repeatable),
// --port-number, --address, --baud, --parity and --journal. Defaults are
// the station panel's: port 1, address 1, 9600 bit/s, no parity.
struct InstrumentOptions {
    PortMap ports;
    PortSettings settings{1, kDefaultBaudIndex, 0, 1};
    QString journalPath;
    QString device() const { return ports.deviceFor(settings.port); }
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
    // The same line without an exit code (warnings).
    void errorLine(const QString& message);
    // A bad command line: the message and where to find help; returns 2.
    int usage(const QString& message);

    // Parses the arguments; on --help prints the help and sets `*exitCode`
    // to 0, on a bad command line prints one line and sets it to 2.
    // Returns whether the command should run.
    // `synopsis` is the usage line after "px5800-cli COMMAND".
    bool parse(QCommandLineParser& parser, const QString& synopsis, const QString& description, int* exitCode);
    // parse() for a command on the instrument: adds the instrument options
    // (InstrumentOptions) after the command's own, reads them into `*options`
    // and points the journal at their --journal. A bad option value is a
    // bad command line.
    bool parseInstrument(QCommandLineParser& parser, const QString& synopsis, const QString& description,
                         InstrumentOptions* options, int* exitCode);

    // For a command without positional arguments: the first one found, as a
    // bad command line (returns 2); 0 when there is none.
    int refuseArguments(const QCommandLineParser& parser);

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

// Numbers on the command line that begin with a minus sign ("-50") are
// values, not options: marks them so QCommandLineParser leaves them
// positional, and takes the mark off again.
QStringList protectNegativeNumbers(const QStringList& arguments);
QString unprotect(const QString& argument);
