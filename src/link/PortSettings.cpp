#include "PortSettings.h"

int baudRateOf(int baudIndex)
{
    switch (baudIndex) {
    case 0: return 4800;
    case 2: return 19200;
    default: return 9600;
    }
}

char parityLetterOf(int parityIndex)
{
    switch (parityIndex) {
    case 1: return 'O';
    case 2: return 'E';
    default: return 'N';
    }
}

QString PortMap::deviceFor(int port) const
{
    const auto it = overrides_.constFind(port);
    if (it != overrides_.constEnd())
        return *it;
    if (port < 1)
        return QString();
    return QStringLiteral("/dev/ttyUSB%1").arg(port - 1);
}

void PortMap::map(int port, const QString& device) { overrides_.insert(port, device); }

bool PortMap::parseMapping(const QString& text, QString* error)
{
    const qsizetype eq = text.indexOf(u'=');
    bool ok = false;
    const int port = eq > 0 ? text.left(eq).trimmed().toInt(&ok) : 0;
    const QString device = eq > 0 ? text.mid(eq + 1).trimmed() : QString();
    if (!ok || port < 1 || port > 20 || device.isEmpty()) {
        if (error)
            *error = QStringLiteral("--port expects N=DEVICE with N from 1 to 20, got \"%1\"").arg(text);
        return false;
    }
    map(port, device);
    return true;
}
