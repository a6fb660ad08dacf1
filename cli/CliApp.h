#pragma once
#include "CliCommon.h"

#include <span>

// One subcommand: its name, a line for the overview, and what runs it.
struct CliCommand {
    const char* name;
    const char* summary;
    int (*run)(CliContext& context);
};
std::span<const CliCommand> cliCommands();

// The whole program: `arguments` as main() gets them (program name first).
// Returns the exit code; normal output goes to `out`, errors to `err`.
int runCli(const QStringList& arguments, QIODevice& out, QIODevice& err);

int runExport(CliContext& context);
int runStatus(CliContext& context);
int runSet(CliContext& context);
int runParams(CliContext& context);
int runTune(CliContext& context);
int runScan(CliContext& context);
