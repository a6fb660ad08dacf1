#include "StationFile.h"
#include "LoopList.h"

#include <QFileInfo>
#include <QHash>
#include <QSettings>
#include <QSet>
#include <QStandardPaths>

namespace {

// QSettings reads an INI value with commas as a list ("loops=1-4,7"); the
// file means the text as written.
QString textOf(const QVariant& value)
{
    return value.metaType().id() == QMetaType::QStringList ? value.toStringList().join(QLatin1Char(','))
                                                           : value.toString();
}

} // namespace

namespace StationFile {

QString defaultPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
           + QStringLiteral("/px5800/station.ini");
}

const LineOptions* Contents::lineOnPort(int port) const
{
    for (const LineOptions& line : lines)
        if (line.portNumber == port)
            return &line;
    return nullptr;
}

std::optional<Contents> read(const QString& path, QString* error)
{
    const auto fail = [&](const QString& group, const QString& why) -> std::optional<Contents> {
        if (error)
            *error = group.isEmpty() ? QStringLiteral("%1: %2").arg(path, why)
                                     : QStringLiteral("%1 [%2]: %3").arg(path, group, why);
        return std::nullopt;
    };
    if (!QFileInfo(path).isReadable())
        return fail(QString(), QStringLiteral("cannot read the file"));
    QSettings file(path, QSettings::IniFormat);
    if (file.status() != QSettings::NoError)
        return fail(QString(), QStringLiteral("not a readable INI file"));
    Contents contents;
    QSet<int> ports;
    QHash<int, QString> addressLine; // loop address -> the group that has it
    for (int n = 1; file.childGroups().contains(QStringLiteral("line%1").arg(n)); ++n) {
        const QString group = QStringLiteral("line%1").arg(n);
        file.beginGroup(group);
        LineOptions line;
        const auto option = [&](const char* key, LineOption rule, int* out) {
            const QString text = textOf(file.value(QLatin1String(key)));
            return text.isEmpty() ? QString() : parseLineOption(rule, text, out);
        };
        QString why = option("port", LineOption::PortNumber, &line.portNumber);
        if (why.isEmpty())
            why = option("baud", LineOption::Baud, &line.baudIndex);
        if (why.isEmpty())
            why = option("parity", LineOption::Parity, &line.parityIndex);
        if (why.isEmpty() && ports.contains(line.portNumber))
            why = QStringLiteral("port %1 is already another line's").arg(line.portNumber);
        const QString device = textOf(file.value(QStringLiteral("device")));
        if (why.isEmpty() && !device.isEmpty())
            contents.ports.parseMapping(QStringLiteral("%1=%2").arg(line.portNumber).arg(device), &why);
        QVector<int> addresses;
        if (why.isEmpty())
            addresses = LoopList::parse(textOf(file.value(QStringLiteral("loops"))), &why);
        // A loop's address names its history file, topics and journal rows,
        // so it is unique across the station's lines.
        for (const int address : addresses)
            if (why.isEmpty() && addressLine.contains(address))
                why =
                    QStringLiteral("address %1 is already a loop of [%2]").arg(address).arg(addressLine.value(address));
        for (const int address : addresses) {
            line.loops.append({address, textOf(file.value(QStringLiteral("name%1").arg(address))).trimmed()});
            addressLine.insert(address, group);
        }
        file.endGroup();
        if (!why.isEmpty())
            return fail(group, why);
        ports.insert(line.portNumber);
        contents.lines.append(line);
    }
    if (contents.lines.isEmpty())
        return fail(QString(), QStringLiteral("names no line ([line1] with loops=...)"));
    return contents;
}

} // namespace StationFile
