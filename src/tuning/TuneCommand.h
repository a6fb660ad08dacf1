#pragma once
#include <QStringList>
#include <QTextStream>

// px5800-cli tune --database DB --from "YYYY-MM-DD HH:MM:SS" --to "..." [--json]
//
// Fits the process model to a period of the one-second history and prints
// K, τ, θ, R² and the suggested settings in the instrument's units. The
// database is opened read-only. `arguments` follow the word "tune".
// Exit status: 0 suggestions given, 1 model fitted but no suggestion (poor
// fit, small step), 2 wrong usage, 3 the period could not be read.
namespace TuneCommand {
int run(const QStringList& arguments, QTextStream& out, QTextStream& err);
QString usage();
} // namespace TuneCommand
