#pragma once
#include <QString>
#include <optional>

// Where the history lives, as given to --database: a file path (SQLite) or a
// server URL
//   postgresql://[user[:password]@][host][:port]/dbname[?host=DIR][&port=N][&station=NAME]
// whose `station` names the schema that holds this station's tables. Further
// query parameters (sslmode, connect_timeout, ...) go to the client library
// as they are.
struct HistoryLocation {
    bool server = false;
    QString path; // file

    QString host; // name, address or socket folder; empty: the client library's default
    int port = -1;
    QString database;
    QString user;
    QString password; // only when the URL carries one; never shown
    QString station;  // schema name, lower case
    QString options;  // "key=value;key=value" for the driver

    // Nothing (and a reason) for a malformed URL or an unusable station name.
    static std::optional<HistoryLocation> parse(const QString& text, QString* error = nullptr);

    // The text for messages and logs: the path, or the URL without its password.
    QString displayText() const;
};

// `text` with the password of a server URL replaced, for any message that
// has to show a --database value.
QString redactedLocation(const QString& text);

// A server URL without a station gets "px5800_<address>" (address 1 when the
// command line did not give one); a file path comes back unchanged.
QString withDefaultStation(const QString& text, int address);
// The same with the station's own name (empty: the address's default).
QString withDefaultStation(const QString& text, const QString& station, int address);

// The history of one loop (the instrument at `address`, 1-16) of a line, as
// a --database value: beside a file, the file with "_<address>" before its
// suffix ("/x/h.db" -> "/x/h_3.db", the default "Rdatabj.db" ->
// "Rdatabj_3.db"); on a server, the schema "<station>_<address>" (without a
// station, "px5800_<address>"). Nothing, and why, for an address out of
// range, a malformed URL or a schema name that would be too long.
std::optional<QString> loopHistoryLocation(const QString& text, int address, QString* error = nullptr);

// Whether `name` can be a station's schema name: a lower-case letter or "_",
// then letters, digits or "_", at most 63 characters.
bool isValidHistoryStation(const QString& name);
