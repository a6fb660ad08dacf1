#include "CliApp.h"

#include <QCoreApplication>
#include <QFile>
#include <QLoggingCategory>
#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("px5800"));
    QCoreApplication::setOrganizationName(QStringLiteral("px5800"));
    // The commands say what went wrong in one line each; the layers' log is
    // for the station. QT_LOGGING_RULES="px.*=true" brings it back.
    QLoggingCategory::setFilterRules(QStringLiteral("px.*=false"));
    QFile out;
    QFile err;
    out.open(stdout, QIODevice::WriteOnly | QIODevice::Unbuffered);
    err.open(stderr, QIODevice::WriteOnly | QIODevice::Unbuffered);
    const int code = runCli(QCoreApplication::arguments(), out, err);
    out.close();
    err.close();
    return code;
}
