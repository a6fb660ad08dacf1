#include "Language.h"
#include "Splash.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QTranslator>
#include <QXmlStreamReader>
#include <QtTest>

namespace {

QStringList listOf(const char* joined) { return QString::fromUtf8(joined).split(u'|', Qt::SkipEmptyParts); }

struct TsMessage {
    QString key;     // context / source / disambiguation: what lupdate matches on
    QString problem; // empty when the translation is finished
};

// Reads every <message> of a .ts file. A message is a problem when lupdate
// marked it (unfinished, vanished, obsolete) or when a translation, or one
// of its plural forms, is empty: Qt would show that text in Chinese.
QList<TsMessage> readTs(const QString& path, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return {};
    }
    QList<TsMessage> messages;
    QXmlStreamReader xml(&file);
    QString context, source, comment, type, text;
    bool emptyForm = false;
    while (!xml.atEnd()) {
        xml.readNext();
        if (!xml.isStartElement()) {
            if (xml.isEndElement() && xml.name() == u"message") {
                TsMessage m{context + QStringLiteral(" / ") + source + QStringLiteral(" / ") + comment, {}};
                if (!type.isEmpty())
                    m.problem = type;
                else if (text.trimmed().isEmpty() || emptyForm)
                    m.problem = QStringLiteral("empty");
                messages << m;
            }
            continue;
        }
        const auto name = xml.name();
        if (name == u"name")
            context = xml.readElementText();
        else if (name == u"message") {
            source.clear(), comment.clear(), type.clear(), text.clear();
            emptyForm = false;
        } else if (name == u"source")
            source = xml.readElementText();
        else if (name == u"comment")
            comment = xml.readElementText();
        else if (name == u"translation") {
            type = xml.attributes().value(QStringLiteral("type")).toString();
            while (!xml.atEnd() && !(xml.readNext() == QXmlStreamReader::EndElement && xml.name() == u"translation")) {
                if (xml.isCharacters())
                    text += xml.text();
                else if (xml.isStartElement() && xml.name() == u"numerusform") {
                    const QString form = xml.readElementText();
                    emptyForm = emptyForm || form.trimmed().isEmpty();
                    text += form;
                }
            }
        }
    }
    if (xml.hasError())
        *error = QStringLiteral("%1 at line %2").arg(xml.errorString()).arg(xml.lineNumber());
    return messages;
}

} // namespace

class TestTranslations : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void readerFlagsUnfinishedAndEmpty();
    void everyMessageIsTranslated_data();
    void everyMessageIsTranslated();
    void sourcesHaveNoMessageMissingFromTheTs();
    void choice_data();
    void choice();
    void englishTranslatorReplacesTheSourceText();
    void missingTranslationIsReported();
};

// The checks below are only worth something if the reader sees the faults.
void TestTranslations::readerFlagsUnfinishedAndEmpty()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("t.ts");
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(R"(<?xml version="1.0" encoding="utf-8"?><!DOCTYPE TS><TS version="2.1" language="en">
<context><name>W</name>
<message><source>甲</source><translation>A</translation></message>
<message><source>乙</source><translation type="unfinished">B</translation></message>
<message><source>丙</source><translation></translation></message>
<message><source>丁</source><translation>  </translation></message>
<message numerus="yes"><source>%n 个</source><translation><numerusform>%n item</numerusform><numerusform></numerusform></translation></message>
<message><source>戊</source><translation type="vanished">E</translation></message>
<message><source>甲</source><comment>menu</comment><translation>A</translation></message>
</context></TS>)");
    f.close();
    QString error;
    const QList<TsMessage> messages = readTs(path, &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QStringList problems;
    for (const TsMessage& m : messages)
        problems << m.problem;
    QCOMPARE(problems, (QStringList{"", "unfinished", "empty", "empty", "empty", "vanished", ""}));
    QCOMPARE(messages.last().key, QStringLiteral("W / 甲 / menu"));
}

void TestTranslations::everyMessageIsTranslated_data()
{
    QTest::addColumn<QString>("path");
    for (const QString& ts : listOf(PX_TS_FILES))
        QTest::newRow(qPrintable(QFileInfo(ts).fileName())) << ts;
}

void TestTranslations::everyMessageIsTranslated()
{
    QFETCH(QString, path);
    QString error;
    const QList<TsMessage> messages = readTs(path, &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QVERIFY(!messages.isEmpty());
    QStringList bad;
    for (const TsMessage& m : messages)
        if (!m.problem.isEmpty())
            bad << m.problem + QStringLiteral(": ") + m.key;
    QVERIFY2(bad.isEmpty(), qPrintable(bad.join(u'\n')));
}

// A text wrapped in tr() but never put through lupdate would silently stay
// Chinese in the English interface.
void TestTranslations::sourcesHaveNoMessageMissingFromTheTs()
{
    QTemporaryDir dir;
    const QString fresh = dir.filePath("fresh.ts");
    QStringList args = listOf(PX_LUPDATE_OPTIONS);
    for (const QString& folder : listOf(PX_LUPDATE_FOLDERS))
        if (QDir(QStringLiteral(PX_SOURCE_DIR)).exists(folder))
            args << folder;
    args << QStringLiteral("-ts") << fresh;
    QProcess lupdate;
    lupdate.setWorkingDirectory(QStringLiteral(PX_SOURCE_DIR));
    lupdate.start(QStringLiteral(PX_LUPDATE), args);
    QVERIFY(lupdate.waitForFinished(60000));
    QVERIFY2(lupdate.exitCode() == 0, lupdate.readAllStandardError().constData());

    QString error;
    QSet<QString> inSources;
    for (const TsMessage& m : readTs(fresh, &error))
        inSources << m.key;
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QVERIFY(!inSources.isEmpty());
    for (const QString& ts : listOf(PX_TS_FILES)) {
        QSet<QString> kept;
        for (const TsMessage& m : readTs(ts, &error))
            kept << m.key;
        QStringList missing = (inSources - kept).values();
        missing.sort();
        QVERIFY2(missing.isEmpty(), qPrintable(QFileInfo(ts).fileName()
                                               + QStringLiteral(" lacks (build the px5800_update_translations "
                                                                "target):\n")
                                               + missing.join(u'\n')));
    }
}

void TestTranslations::choice_data()
{
    QTest::addColumn<QString>("option");
    QTest::addColumn<QString>("environment");
    QTest::addColumn<QString>("code");
    QTest::addColumn<bool>("warned");
    QTest::newRow("nothing: Chinese") << "" << "" << "zh" << false;
    QTest::newRow("environment en") << "" << "en" << "en" << false;
    QTest::newRow("environment upper case, blanks") << "" << " EN " << "en" << false;
    QTest::newRow("option beats environment") << "zh" << "en" << "zh" << false;
    QTest::newRow("option en") << "en" << "" << "en" << false;
    QTest::newRow("unknown environment: Chinese, said") << "" << "en_US.UTF-8" << "zh" << true;
}

void TestTranslations::choice()
{
    QFETCH(QString, option);
    QFETCH(QString, environment);
    QFETCH(QString, code);
    QFETCH(bool, warned);
    const Language::Choice c = Language::choose(option, environment);
    QCOMPARE(c.code, code);
    QCOMPARE(!c.warning.isEmpty(), warned);
}

// The compiled .qm from this build, found the way the program finds it.
void TestTranslations::englishTranslatorReplacesTheSourceText()
{
    QTranslator translator;
    QString error;
    QVERIFY2(Language::install(translator, "en", Language::searchPath(QCoreApplication::applicationDirPath()), &error),
             qPrintable(error));
    {
        Splash splash;
        QCOMPARE(splash.windowTitle(), QStringLiteral("PX5800 operator station"));
        QVERIFY(!splash.findChild<QLabel*>("Label1")->text().contains(u"系统"));
    }
    QCoreApplication::removeTranslator(&translator);
    Splash splash;
    QCOMPARE(splash.windowTitle(), QStringLiteral("过程控制仪表 PX5800"));
    QCOMPARE(splash.findChild<QLabel*>("Label1")->text(), QStringLiteral("系统正在初始化数据引擎，请稍后。。。。。。"));
}

void TestTranslations::missingTranslationIsReported()
{
    QTemporaryDir empty;
    QTranslator translator;
    QString error;
    QVERIFY(!Language::install(translator, "en", {empty.path()}, &error));
    QVERIFY(error.contains(empty.path()));
    QVERIFY(Language::install(translator, "zh", {empty.path()}, &error)); // the source text needs no file
    QVERIFY(translator.isEmpty());
}

QTEST_MAIN(TestTranslations)
#include "tst_translations.moc"
