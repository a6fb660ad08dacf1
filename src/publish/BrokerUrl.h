#pragma once
#include <QString>

// Where and how the station reaches its MQTT broker, from
// --mqtt mqtt://[user@]HOST[:PORT] (or mqtts://), --mqtt-ca and
// --mqtt-password-file. The password never comes from the command line.
struct BrokerSettings {
    QString host;
    int port = 1883;
    bool tls = false;
    QString caFile;   // mqtts only; empty: the system's certificate store
    QString user;     // empty: anonymous
    QString password; // read from the password file
};

// Parses the URL into `out` (host, port, tls, user); false with a message
// for the command line otherwise. A password inside the URL is refused.
bool parseBrokerUrl(const QString& url, BrokerSettings* out, QString* error);

// The first line of the file, without its line end; false with a message
// when the file cannot be read or holds no password.
bool readPasswordFile(const QString& path, QString* password, QString* error);

// A station name becomes one topic level: letters, digits, '_', '-', '.',
// 1 to 64 characters, so it can never add levels or wildcards.
bool isValidStationName(const QString& name);
QString defaultStationName(int address);
