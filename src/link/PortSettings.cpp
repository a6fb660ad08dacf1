#include "PortSettings.h"
#include "PortEndpoint.h"

int baudRateOf(int baudIndex)
{
    const bool known = baudIndex >= 0 && baudIndex < int(kBaudRates.size());
    return kBaudRates[std::size_t(known ? baudIndex : kDefaultBaudIndex)];
}

int baudIndexOf(int rate)
{
    for (std::size_t i = 0; i < kBaudRates.size(); ++i)
        if (kBaudRates[i] == rate)
            return int(i);
    return -1;
}

QString baudRatesText()
{
    QString text;
    for (std::size_t i = 0; i < kBaudRates.size(); ++i) {
        if (i > 0)
            text += i + 1 == kBaudRates.size() ? QStringLiteral(" or ") : QStringLiteral(", ");
        text += QString::number(kBaudRates[i]);
    }
    return text;
}

char parityLetterOf(int parityIndex)
{
    switch (parityIndex) {
    case 1: return 'O';
    case 2: return 'E';
    default: return 'N';
    }
}

QString parseLineOption(LineOption option, const QString& text, int* out)
{
    struct Rule {
        const char* expects;
        int low, high;        // a number in this range ...
        const char* words[3]; // ... or one of these words, read as its index
    };
    static constexpr Rule kRules[] = {
        {"--port-number expects 1 to 20", 1, 20, {}},
        {"--address expects 1 to 16", 1, 16, {}},
        {"--baud expects ", 0, 0, {}}, // the rates of kBaudRates
        {"--parity expects none, odd or even", 0, 0, {"none", "odd", "even"}},
    };
    const Rule& rule = kRules[int(option)];
    if (option == LineOption::Baud) {
        for (std::size_t i = 0; i < kBaudRates.size(); ++i)
            if (text == QString::number(kBaudRates[i])) {
                *out = int(i);
                return QString();
            }
        return QString::fromLatin1(rule.expects) + baudRatesText();
    }
    if (rule.words[0]) {
        for (int i = 0; i < 3; ++i)
            if (text.compare(QLatin1String(rule.words[i]), Qt::CaseInsensitive) == 0) {
                *out = i;
                return QString();
            }
        return QString::fromLatin1(rule.expects);
    }
    bool ok = false;
    const int v = text.toInt(&ok);
    if (!ok || v < rule.low || v > rule.high)
        return QString::fromLatin1(rule.expects);
    *out = v;
    return QString();
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
            *error = QStringLiteral("--port expects N=DEVICE, N=tcp://HOST[:PORT] or N=rtu+tcp://HOST:PORT with N "
                                    "from 1 to 20, got \"%1\"")
                         .arg(text);
        return false;
    }
    PortEndpoint endpoint;
    QString why;
    if (!parsePortEndpoint(device, &endpoint, &why)) {
        if (error)
            *error = QStringLiteral("--port %1: %2").arg(text, why);
        return false;
    }
    map(port, device);
    return true;
}
