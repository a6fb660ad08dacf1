#pragma once
#include <QString>
#include <QVector>

// A list of instrument addresses on one line, as the operator writes it:
// "1-4,7" (1..16, ascending, each address once).
namespace LoopList {

constexpr int kMaxAddress = 16;

// The addresses, or an empty list with the reason in `error`.
QVector<int> parse(const QString& text, QString* error);
// The shortest text parse() reads back as `addresses` (ascending input).
QString format(const QVector<int>& addresses);

} // namespace LoopList
