#include "Language.h"

#include <QCoreApplication>
#include <QDir>
#include <QTranslator>

namespace Language {

bool isKnown(const QString& code) { return code == u"zh" || code == u"en"; }

Choice choose(const QString& option, const QString& environment)
{
    Choice c;
    if (!option.isEmpty()) {
        c.code = option;
        return c;
    }
    const QString env = environment.trimmed().toLower();
    if (env.isEmpty())
        return c;
    if (isKnown(env))
        c.code = env;
    else
        c.warning = QStringLiteral("px5800: PX5800_LANG=%1 is not a language of this station (zh, en); "
                                   "staying in Chinese")
                        .arg(environment);
    return c;
}

QStringList searchPath(const QString& applicationDir)
{
    QStringList folders{QDir::cleanPath(applicationDir + QStringLiteral("/../share/px5800/translations"))};
#ifdef PX5800_BUILD_TRANSLATIONS
    folders << QStringLiteral(PX5800_BUILD_TRANSLATIONS);
#endif
    return folders;
}

bool install(QTranslator& translator, const QString& code, const QStringList& folders, QString* error)
{
    if (code == u"zh")
        return true;
    const QString file = QStringLiteral("px5800_%1").arg(code);
    for (const QString& folder : folders) {
        if (translator.load(file, folder)) {
            QCoreApplication::installTranslator(&translator);
            return true;
        }
    }
    if (error)
        *error = QStringLiteral("px5800: %1.qm not found in %2; staying in Chinese").arg(file, folders.join(u", "));
    return false;
}

bool installQt(QTranslator& translator, const QString& code, const QString& folder)
{
    if (code != u"zh" || !translator.load(QStringLiteral("qtbase_zh_CN"), folder))
        return false;
    QCoreApplication::installTranslator(&translator);
    return true;
}

} // namespace Language
