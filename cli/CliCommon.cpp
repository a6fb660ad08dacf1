#include "CliCommon.h"

#include <QCommandLineOption>
#include <QRegularExpression>

namespace {
const QChar kMark(0x1);

// The instrument options on one parser.
class InstrumentOptionSet {
public:
    void addTo(QCommandLineParser& parser) const;
    // False with one line saying what is wrong.
    bool read(const QCommandLineParser& parser, InstrumentOptions* options, QString* error) const;

private:
    QCommandLineOption port_{
        QStringLiteral("port"),
        QStringLiteral("Serial device or gateway (tcp://HOST[:PORT], rtu+tcp://HOST:PORT) behind port N "
                       "(1-20); repeatable. "
                       "Default: port N is /dev/ttyUSB<N-1>."),
        QStringLiteral("N=DEVICE")};
    QCommandLineOption portNumber_{QStringLiteral("port-number"), QStringLiteral("Port to use (1-20, default 1)."),
                                   QStringLiteral("N")};
    QCommandLineOption address_{QStringLiteral("address"), QStringLiteral("Instrument address (1-16, default 1)."),
                                QStringLiteral("N")};
    QCommandLineOption baud_{QStringLiteral("baud"),
                             QStringLiteral("%1 (default %2).").arg(baudRatesText()).arg(baudRateOf(kDefaultBaudIndex)),
                             QStringLiteral("RATE")};
    QCommandLineOption parity_{QStringLiteral("parity"), QStringLiteral("none, odd or even (default none)."),
                               QStringLiteral("MODE")};
    QCommandLineOption journal_{QStringLiteral("journal"),
                                QStringLiteral("Event journal for the writes (default: beside the history)."),
                                QStringLiteral("PATH")};
};

} // namespace

int CliContext::fail(int code, const QString& message)
{
    errorLine(message);
    return code;
}

void CliContext::errorLine(const QString& message)
{
    // Driver texts (libpq's above all) span lines; a script reads one line per error.
    err_.write(QStringLiteral("px5800-cli %1: %2\n").arg(command_, message.simplified()).toUtf8());
}

int CliContext::usage(const QString& message)
{
    return fail(kExitUsage, QStringLiteral("%1 (see px5800-cli %2 --help)").arg(message, command_));
}

bool CliContext::parse(QCommandLineParser& parser, const QString& synopsis, const QString& description, int* exitCode)
{
    parser.setApplicationDescription(description);
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help = parser.addHelpOption();
    QStringList argv{QStringLiteral("px5800-cli %1").arg(command_)};
    argv += protectNegativeNumbers(arguments_);
    if (!parser.parse(argv)) {
        *exitCode = usage(parser.errorText());
        return false;
    }
    if (parser.isSet(help)) {
        // Qt's first line names the executable; ours names the command.
        QString text = parser.helpText();
        text = text.mid(text.indexOf(u'\n'));
        print(QStringLiteral("Usage: px5800-cli %1 %2").arg(command_, synopsis) + text);
        *exitCode = kExitOk;
        return false;
    }
    return true;
}

bool CliContext::parseInstrument(QCommandLineParser& parser, const QString& synopsis, const QString& description,
                                 InstrumentOptions* options, int* exitCode)
{
    const InstrumentOptionSet instrument;
    instrument.addTo(parser);
    if (!parse(parser, synopsis, description, exitCode))
        return false;
    QString error;
    if (!instrument.read(parser, options, &error)) {
        *exitCode = usage(error);
        return false;
    }
    setJournalPath(options->journalPath);
    return true;
}

int CliContext::refuseArguments(const QCommandLineParser& parser)
{
    const QStringList positional = parser.positionalArguments();
    return positional.isEmpty()
               ? kExitOk
               : usage(QStringLiteral("unexpected argument \"%1\"").arg(unprotect(positional.first())));
}

CliJournal& CliContext::journal()
{
    if (!journal_)
        journal_ = openCliJournal(journalPath_, [this](const QString& line) { errorLine(line); });
    return *journal_;
}

void InstrumentOptionSet::addTo(QCommandLineParser& parser) const
{
    parser.addOptions({port_, portNumber_, address_, baud_, parity_, journal_});
}

bool InstrumentOptionSet::read(const QCommandLineParser& parser, InstrumentOptions* o, QString* error) const
{
    for (const QString& mapping : parser.values(port_))
        if (!o->ports.parseMapping(mapping, error))
            return false;
    struct LineOptionAt {
        const QCommandLineOption& option;
        LineOption rule;
        int* out;
    };
    const LineOptionAt lineOptions[] = {
        {portNumber_, LineOption::PortNumber, &o->settings.port},
        {address_, LineOption::Address, &o->settings.address},
        {baud_, LineOption::Baud, &o->settings.baudIndex},
        {parity_, LineOption::Parity, &o->settings.parityIndex},
    };
    for (const LineOptionAt& l : lineOptions) {
        if (!parser.isSet(l.option))
            continue;
        *error = parseLineOption(l.rule, parser.value(l.option), l.out);
        if (!error->isEmpty())
            return false;
    }
    o->journalPath = parser.value(journal_);
    return true;
}

QStringList protectNegativeNumbers(const QStringList& arguments)
{
    static const QRegularExpression negative(QStringLiteral("^-[0-9.]"));
    QStringList out;
    out.reserve(arguments.size());
    for (const QString& a : arguments)
        out.append(negative.match(a).hasMatch() ? kMark + a : a);
    return out;
}

QString unprotect(const QString& argument) { return argument.startsWith(kMark) ? argument.mid(1) : argument; }
