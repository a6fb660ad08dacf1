#pragma once
#include <QString>
#include <QStringList>

class QTranslator;

// The interface language. Chinese is the source text of every message, so
// it needs no translator and stays the default whatever the locale says;
// English is chosen explicitly (--lang en or PX5800_LANG=en).
namespace Language {

// Languages the station can show: "zh" (the source text) and "en".
bool isKnown(const QString& code);

struct Choice {
    QString code = QStringLiteral("zh");
    QString warning; // set when the environment asked for an unknown language
};

// --lang wins over PX5800_LANG; an unknown environment value is reported
// and ignored (a bad --lang is refused earlier, by the command line).
Choice choose(const QString& option, const QString& environment);

// Folders searched for px5800_<code>.qm: next to the installed program
// (<prefix>/share/px5800/translations), then the build tree's.
QStringList searchPath(const QString& applicationDir);

// Loads px5800_<code>.qm from the first folder that has it into
// `translator` and installs it on the application. "zh" loads nothing.
// Returns false, with the folders tried in `error`, when none has it.
bool install(QTranslator& translator, const QString& code, const QStringList& folders, QString* error);

// Qt's own texts (print and file dialogs, standard buttons) are English
// unless Qt's translation is loaded: the Chinese interface loads
// qtbase_zh_CN.qm from `folder` (Qt's translations folder) when the system
// has it. Nothing to load for English. Returns whether one was installed.
bool installQt(QTranslator& translator, const QString& code, const QString& folder);

} // namespace Language
