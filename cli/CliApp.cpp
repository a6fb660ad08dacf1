#include "CliApp.h"

#include <array>

namespace {

constexpr std::array<CliCommand, 6> kCommands{{
    {"export", "write a history ring as CSV", runExport},
    {"status", "read the instrument once and print its state", runStatus},
    {"set", "write SV, manual OP, mode or self-tuning, then read it back", runSet},
    {"params", "save, compare or restore the instrument's whole parameter set", runParams},
    {"tune", "fit the process to a step in the history and suggest PID settings", runTune},
    {"scan", "ask every address 1-16 on the line who answers, for --loops", runScan},
}};

QString overview()
{
    QString text = QStringLiteral("Usage: px5800-cli COMMAND [options]\n"
                                  "The PX5800 temperature controller and its history from the command line.\n\n"
                                  "Commands:\n");
    for (const CliCommand& c : kCommands)
        text += QStringLiteral("  %1 %2\n").arg(QString::fromLatin1(c.name).leftJustified(8), QLatin1String(c.summary));
    text += QStringLiteral(
        "\n'px5800-cli COMMAND --help' describes a command and its options.\n"
        "Exit codes: 0 ok, 1 the instrument or the database failed, 2 bad usage or a refused value,\n"
        "3 (params) the instrument and the file differ, 4 (tune) the fit is too poor to suggest settings.\n");
    return text;
}

} // namespace

std::span<const CliCommand> cliCommands() { return kCommands; }

int runCli(const QStringList& arguments, QIODevice& out, QIODevice& err)
{
    const QString first = arguments.value(1);
    if (first.isEmpty()) {
        err.write(QByteArrayLiteral("px5800-cli: no command given (see px5800-cli --help)\n"));
        return kExitUsage;
    }
    if (first == u"--help" || first == u"-h" || first == u"help") {
        out.write(overview().toUtf8());
        return kExitOk;
    }
    if (first == u"--version" || first == u"-v") {
        out.write(QByteArrayLiteral("px5800-cli " PX5800_VERSION "\n"));
        return kExitOk;
    }
    for (const CliCommand& c : kCommands) {
        if (first != QLatin1String(c.name))
            continue;
        CliContext context(first, arguments.mid(2), out, err);
        return c.run(context);
    }
    err.write(QStringLiteral("px5800-cli: unknown command \"%1\" (see px5800-cli --help)\n").arg(first).toUtf8());
    return kExitUsage;
}
