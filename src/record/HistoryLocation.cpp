#include "HistoryLocation.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <algorithm>
#include <QUrl>
#include <QUrlQuery>

namespace {

bool isServerUrl(const QString& text)
{
    return text.startsWith(QLatin1String("postgresql://"), Qt::CaseInsensitive)
           || text.startsWith(QLatin1String("postgres://"), Qt::CaseInsensitive);
}

std::optional<HistoryLocation> refuse(const QString& reason, QString* error)
{
    if (error)
        *error = reason;
    return std::nullopt;
}

bool parsePort(const QString& text, int* port)
{
    bool ok = false;
    const int n = text.toInt(&ok);
    if (!ok || n < 1 || n > 65535)
        return false;
    *port = n;
    return true;
}

} // namespace

bool isValidHistoryStation(const QString& name)
{
    static const QRegularExpression re(QStringLiteral("^[a-z_][a-z0-9_]{0,62}$"));
    return re.match(name).hasMatch();
}

std::optional<HistoryLocation> HistoryLocation::parse(const QString& text, QString* error)
{
    HistoryLocation l;
    if (!isServerUrl(text)) {
        if (text.trimmed().isEmpty())
            return refuse(QStringLiteral("no database path"), error);
        l.path = text;
        return l;
    }
    l.server = true;
    // Messages name the URL without its password.
    const QString shown = redactedLocation(text);
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid())
        return refuse(QStringLiteral("malformed database URL %1").arg(shown), error);

    l.host = url.host(QUrl::FullyDecoded);
    if (url.port() != -1)
        l.port = url.port();
    l.user = url.userName(QUrl::FullyDecoded);
    l.password = url.password(QUrl::FullyDecoded);
    l.database = url.path(QUrl::FullyDecoded).mid(1);
    if (l.database.isEmpty() || l.database.contains(QLatin1Char('/')))
        return refuse(QStringLiteral("database URL %1 names no database").arg(shown), error);

    QStringList options;
    const auto items = QUrlQuery(url).queryItems(QUrl::FullyDecoded);
    for (const auto& [key, value] : items) {
        if (key == QLatin1String("host")) {
            l.host = value;
        } else if (key == QLatin1String("port")) {
            if (!parsePort(value, &l.port))
                return refuse(QStringLiteral("database URL %1: port %2 is not a port").arg(shown, value), error);
        } else if (key == QLatin1String("station")) {
            if (!isValidHistoryStation(value))
                return refuse(QStringLiteral("database URL %1: station \"%2\" is not a valid name (lower-case "
                                             "letters, digits and _, at most 63)")
                                  .arg(shown, value),
                              error);
            l.station = value;
        } else if (key == QLatin1String("password") || key == QLatin1String("user") || key == QLatin1String("dbname")) {
            return refuse(QStringLiteral("database URL %1: give %2 in the URL's own place").arg(shown, key), error);
        } else {
            // The driver joins options with ';' and quotes nothing itself.
            static const QRegularExpression keyRe(QStringLiteral("^[a-z_]+$"));
            if (!keyRe.match(key).hasMatch() || value.contains(QLatin1Char(';')) || value.contains(QLatin1Char('\''))
                || value.contains(QLatin1Char(' ')) || value.isEmpty())
                return refuse(QStringLiteral("database URL %1: parameter %2 not usable").arg(shown, key), error);
            options << key + QLatin1Char('=') + value;
        }
    }
    // A server that is away must not hold a connection attempt for long.
    if (!std::any_of(items.begin(), items.end(),
                     [](const auto& i) { return i.first == QLatin1String("connect_timeout"); }))
        options << QStringLiteral("connect_timeout=3");
    l.options = options.join(QLatin1Char(';'));
    return l;
}

QString HistoryLocation::displayText() const
{
    if (!server)
        return path;
    QUrl url;
    url.setScheme(QStringLiteral("postgresql"));
    url.setUserName(user);
    if (!password.isEmpty())
        url.setPassword(QStringLiteral("xxxxx"));
    // A socket folder is shown as the query parameter it came as.
    const bool socket = host.startsWith(QLatin1Char('/'));
    url.setHost(socket ? QString() : host);
    if (port != -1 && !socket)
        url.setPort(port);
    url.setPath(QLatin1Char('/') + database);
    QUrlQuery q;
    if (socket) {
        q.addQueryItem(QStringLiteral("host"), host);
        if (port != -1)
            q.addQueryItem(QStringLiteral("port"), QString::number(port));
    }
    if (!station.isEmpty())
        q.addQueryItem(QStringLiteral("station"), station);
    url.setQuery(q);
    return url.toString();
}

QString redactedLocation(const QString& text)
{
    if (!isServerUrl(text))
        return text;
    // Textual, so that a URL too malformed to parse still loses its password:
    // "scheme://user:secret@" keeps the user and hides the rest up to the last '@'.
    const qsizetype start = text.indexOf(QLatin1String("://")) + 3;
    const qsizetype at = text.lastIndexOf(QLatin1Char('@'));
    if (at < start)
        return text;
    const qsizetype colon = text.indexOf(QLatin1Char(':'), start);
    if (colon < 0 || colon > at)
        return text;
    return text.left(colon + 1) + QStringLiteral("xxxxx") + text.mid(at);
}

QString withDefaultStation(const QString& text, int address) { return withDefaultStation(text, QString(), address); }

QString withDefaultStation(const QString& text, const QString& station, int address)
{
    if (!isServerUrl(text))
        return text;
    QUrl url(text, QUrl::StrictMode);
    QUrlQuery q(url);
    if (!url.isValid() || q.hasQueryItem(QStringLiteral("station")))
        return text;
    q.addQueryItem(QStringLiteral("station"),
                   station.isEmpty() ? QStringLiteral("px5800_%1").arg(address > 0 ? address : 1) : station);
    url.setQuery(q);
    return url.toString(QUrl::FullyEncoded);
}

std::optional<QString> loopHistoryLocation(const QString& text, int address, QString* error)
{
    const auto refuse = [error](const QString& why) -> std::optional<QString> {
        if (error)
            *error = why;
        return std::nullopt;
    };
    if (address < 1 || address > 16)
        return refuse(QStringLiteral("address %1 is not 1-16").arg(address));
    QString why;
    const auto parsed = HistoryLocation::parse(text, &why);
    if (!parsed)
        return refuse(why);
    if (!parsed->server) {
        const QFileInfo info(parsed->path);
        const QString suffix = info.suffix();
        const QString name = (suffix.isEmpty() ? info.fileName() : info.completeBaseName())
                             + QStringLiteral("_%1").arg(address)
                             + (suffix.isEmpty() ? QString() : QLatin1Char('.') + suffix);
        // Only the file name changes: a relative path stays relative.
        const qsizetype slash = parsed->path.lastIndexOf(QLatin1Char('/'));
        return parsed->path.left(slash + 1) + name;
    }
    const QString station = QStringLiteral("%1_%2")
                                .arg(parsed->station.isEmpty() ? QStringLiteral("px5800") : parsed->station)
                                .arg(address);
    if (!isValidHistoryStation(station))
        return refuse(QStringLiteral("station %1 is too long for a loop's schema").arg(station));
    QUrl url(text, QUrl::StrictMode);
    QUrlQuery q(url);
    q.removeAllQueryItems(QStringLiteral("station"));
    q.addQueryItem(QStringLiteral("station"), station);
    url.setQuery(q);
    return url.toString(QUrl::FullyEncoded);
}
