#include "PortEndpoint.h"

#include <arpa/inet.h>

namespace {

bool fail(QString* error, const QString& why)
{
    if (error)
        *error = why;
    return false;
}

} // namespace

bool parsePortEndpoint(const QString& text, PortEndpoint* out, QString* error)
{
    const qsizetype sep = text.indexOf(QLatin1String("://"));
    if (sep < 0) {
        out->kind = PortEndpoint::Kind::Serial;
        out->device = text;
        return true;
    }
    const QString scheme = text.left(sep).toLower();
    PortEndpoint e;
    if (scheme == QLatin1String("tcp"))
        e.kind = PortEndpoint::Kind::ModbusTcp;
    else if (scheme == QLatin1String("rtu+tcp"))
        e.kind = PortEndpoint::Kind::RtuOverTcp;
    else
        return fail(error,
                    QStringLiteral("unknown scheme \"%1\": use tcp://HOST[:PORT] or rtu+tcp://HOST:PORT").arg(scheme));

    QString rest = text.mid(sep + 3);
    if (rest.endsWith(u'/'))
        rest.chop(1);
    QString host, portText;
    if (rest.startsWith(u'[')) {
        const qsizetype close = rest.indexOf(u']');
        if (close < 0)
            return fail(error, QStringLiteral("unclosed [ in \"%1\"").arg(text));
        host = rest.mid(1, close - 1);
        const QString tail = rest.mid(close + 1);
        if (!tail.isEmpty() && !tail.startsWith(u':'))
            return fail(error, QStringLiteral("unexpected text after ] in \"%1\"").arg(text));
        portText = tail.mid(1);
        if (tail.isEmpty())
            portText.clear();
        else if (portText.isEmpty())
            return fail(error, QStringLiteral("missing port after : in \"%1\"").arg(text));
    } else {
        const qsizetype colon = rest.indexOf(u':');
        host = colon < 0 ? rest : rest.left(colon);
        if (colon >= 0) {
            portText = rest.mid(colon + 1);
            if (portText.isEmpty())
                return fail(error, QStringLiteral("missing port after : in \"%1\"").arg(text));
        }
    }
    const QByteArray hostBytes = host.toLatin1();
    unsigned char scratch[16];
    const bool v4 = ::inet_pton(AF_INET, hostBytes.constData(), scratch) == 1;
    const bool v6 = !v4 && ::inet_pton(AF_INET6, hostBytes.constData(), scratch) == 1;
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        host = QStringLiteral("127.0.0.1");
    else if (!v4 && !v6)
        return fail(error, QStringLiteral("\"%1\" is not an IP address (or localhost)").arg(host));
    else if (v6 != rest.startsWith(u'['))
        return fail(error, v6 ? QStringLiteral("an IPv6 address goes in brackets: [%1]").arg(host)
                              : QStringLiteral("only an IPv6 address goes in brackets"));

    if (portText.isEmpty()) {
        if (e.kind == PortEndpoint::Kind::RtuOverTcp)
            return fail(error, QStringLiteral("rtu+tcp:// needs a port: rtu+tcp://HOST:PORT"));
        e.tcpPort = 502;
    } else {
        bool ok = false;
        const int port = portText.toInt(&ok, 10);
        if (!ok || port < 1 || port > 65535 || portText.startsWith(u'+'))
            return fail(error, QStringLiteral("port \"%1\" is not 1 to 65535").arg(portText));
        e.tcpPort = port;
    }
    e.host = host;
    *out = e;
    return true;
}
