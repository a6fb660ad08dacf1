#include "BrokerUrl.h"

#include <QFile>
#include <QUrl>

bool parseBrokerUrl(const QString& text, BrokerSettings* out, QString* error)
{
    const auto fail = [error](const QString& message) {
        if (error)
            *error = message;
        return false;
    };
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid())
        return fail(QStringLiteral("--mqtt: \"%1\" is not a URL").arg(text));
    BrokerSettings s;
    const QString scheme = url.scheme().toLower();
    if (scheme == u"mqtt")
        s.tls = false;
    else if (scheme == u"mqtts")
        s.tls = true;
    else
        return fail(QStringLiteral("--mqtt expects mqtt://[user@]HOST[:PORT] or mqtts://..."));
    if (url.host().isEmpty())
        return fail(QStringLiteral("--mqtt needs a host"));
    const QString authority = text.section(QStringLiteral("://"), 1).section(QLatin1Char('/'), 0, 0);
    if (!url.password().isEmpty() || authority.section(QLatin1Char('@'), 0, -2).contains(QLatin1Char(':')))
        return fail(QStringLiteral("--mqtt: no password in the URL; use --mqtt-password-file"));
    if (!(url.path().isEmpty() || url.path() == u"/") || url.hasQuery() || url.hasFragment())
        return fail(QStringLiteral("--mqtt: only mqtt://[user@]HOST[:PORT]"));
    s.host = url.host();
    s.user = url.userName();
    s.port = url.port(s.tls ? 8883 : 1883);
    if (s.port < 1 || s.port > 65535)
        return fail(QStringLiteral("--mqtt: port out of range"));
    *out = s;
    return true;
}

bool readPasswordFile(const QString& path, QString* password, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = QStringLiteral("--mqtt-password-file: cannot read %1 (%2)").arg(path, file.errorString());
        return false;
    }
    QByteArray line = file.readLine(4096);
    while (line.endsWith('\n') || line.endsWith('\r'))
        line.chop(1);
    if (line.isEmpty()) {
        if (error)
            *error = QStringLiteral("--mqtt-password-file: %1 holds no password").arg(path);
        return false;
    }
    *password = QString::fromUtf8(line);
    return true;
}

bool isValidStationName(const QString& name)
{
    if (name.isEmpty() || name.size() > 64)
        return false;
    for (const QChar c : name) {
        const char16_t u = c.unicode();
        const bool ok = (u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z') || (u >= u'0' && u <= u'9') || u == u'_'
                        || u == u'-' || u == u'.';
        if (!ok)
            return false;
    }
    return true;
}

QString defaultStationName(int address) { return QStringLiteral("px5800_%1").arg(address); }
