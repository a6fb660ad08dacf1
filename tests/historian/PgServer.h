#pragma once
// The server the CTest fixture started: its folder is PX_PG_DIR, the control
// script PX_PG_CTL.
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QVariantList>

#include "RunCommand.h"

inline QString serverDir() { return qEnvironmentVariable("PX_PG_DIR"); }

inline QString port()
{
    QFile f(serverDir() + QStringLiteral("/port"));
    return f.open(QIODevice::ReadOnly) ? QString::fromLatin1(f.readAll()).trimmed() : QString();
}

inline QString url(const QString& station, const QString& user = QStringLiteral("px5800"))
{
    return QStringLiteral("postgresql://%1@/plant?host=%2&port=%3&station=%4").arg(user, serverDir(), port(), station);
}

// "stop", "start": the same cluster, kept between.
inline bool server(const char* command)
{
    return runCommand(qEnvironmentVariable("PX_PG_CTL"), {QLatin1String(command), serverDir()}) == 0;
}

// What an engineer's query sees, on its own superuser connection.
inline QList<QVariantList> query(const QString& sql)
{
    QList<QVariantList> out;
    {
        auto db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("peek"));
        db.setHostName(serverDir());
        db.setPort(port().toInt());
        db.setDatabaseName(QStringLiteral("plant"));
        db.setUserName(QStringLiteral("px5800"));
        if (db.open()) {
            QSqlQuery q(db);
            if (q.exec(sql))
                while (q.next()) {
                    QVariantList row;
                    for (int i = 0; i < q.record().count(); ++i)
                        row << q.value(i);
                    out << row;
                }
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("peek"));
    return out;
}
