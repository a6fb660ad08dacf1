#include "FakeModbus485.h"
#include "Language.h"
#include "MonitorTables.h"
#include "PollingCycle.h"
#include "ParamTable.h"
#include "ParameterRestore.h"
#include "SegmentFields.h"
#include "Splash.h"
#include "StationApp.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QPointer>
#include <QRegularExpression>
#include <QLabel>
#include <QProcess>
#include <QSet>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTranslator>
#include <QXmlStreamReader>
#include <QtTest>

#include <algorithm>
#include <functional>

namespace {

QStringList listOf(const char* joined) { return QString::fromUtf8(joined).split(u'|', Qt::SkipEmptyParts); }

// The %1..%9 a text is filled with: a translation that drops or adds one
// shows a raw "%2" or loses a number.
QSet<QString> placeholders(const QString& text)
{
    QSet<QString> found;
    static const QRegularExpression marker(QStringLiteral("%[1-9]"));
    for (auto it = marker.globalMatch(text); it.hasNext();)
        found << it.next().captured();
    return found;
}

// Chinese characters in a text, to catch a text the English interface
// shows untranslated.
bool hasHan(const QString& text)
{
    return std::any_of(text.cbegin(), text.cend(), [](QChar c) { return c.script() == QChar::Script_Han; });
}

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
                else if (placeholders(source) != placeholders(text))
                    m.problem = QStringLiteral("placeholders");
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
    void tableTextsFollowTheTranslator_data();
    void tableTextsFollowTheTranslator();
    void englishWindowsShowNoChinese_data();
    void englishWindowsShowNoChinese();
    void qtOwnTranslationOnlyForChinese();

private:
    QTemporaryDir dir_;
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
<message><source>%1 至 %2</source><translation>%1 to</translation></message>
<message><source>%1 至 %2</source><comment>swapped</comment><translation>%2 back to %1</translation></message>
</context></TS>)");
    f.close();
    QString error;
    const QList<TsMessage> messages = readTs(path, &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QStringList problems;
    for (const TsMessage& m : messages)
        problems << m.problem;
    QCOMPARE(problems, (QStringList{"", "unfinished", "empty", "empty", "empty", "vanished", "", "placeholders", ""}));
    QCOMPARE(messages.at(6).key, QStringLiteral("W / 甲 / menu"));
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
    QTest::newRow("nothing: Chinese") << ""
                                      << ""
                                      << "zh" << false;
    QTest::newRow("environment en") << ""
                                    << "en"
                                    << "en" << false;
    QTest::newRow("environment upper case, blanks") << ""
                                                    << " EN "
                                                    << "en" << false;
    QTest::newRow("option beats environment") << "zh"
                                              << "en"
                                              << "zh" << false;
    QTest::newRow("option en") << "en"
                               << ""
                               << "en" << false;
    QTest::newRow("unknown environment: Chinese, said") << ""
                                                        << "en_US.UTF-8"
                                                        << "zh" << true;
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

// The tables hold Chinese and are shown through the translation contexts:
// with no translator exactly the Chinese, with the English one English.
void TestTranslations::tableTextsFollowTheTranslator_data()
{
    QTest::addColumn<std::function<QString()>>("shown");
    QTest::addColumn<QString>("chinese");
    QTest::addColumn<QString>("english");
    const auto state = [](const char* label, bool on) {
        for (const MonitorTables::StateRow& row : MonitorTables::stateRows())
            if (qstrcmp(row.label, label) == 0)
                return MonitorTables::stateText(row, on);
        return QString();
    };
    QTest::newRow("parameter caption") << std::function<QString()>([] {
        return ParamTable::shown(ParamTable::param(0).caption);
    }) << "输入类型"
                                       << "Input type";
    QTest::newRow("choice entry, trailing blank")
        << std::function<QString()>([] { return ParamTable::shown(ParamTable::param(21).entries[1]); }) << "1:奇校验 "
        << "1:Odd ";
    QTest::newRow("value label") << std::function<QString()>([] { return *ParamTable::displayText(11, 1); }) << "继电器"
                                 << "Relay";
    QTest::newRow("mode state") << std::function<QString()>([state] { return state("D_1RW_0", false); }) << "手动"
                                << "Manual";
    QTest::newRow("sensor fault") << std::function<QString()>([state] { return state("D_2R_2", true); }) << "传感器开路"
                                  << "Sensor open";
    QTest::newRow("alarm type") << std::function<QString()>([] { return MonitorTables::alarmTypeText(1, 1)->text; })
                                << "报警2上限报警"
                                << "Alarm 2 high";
    QTest::newRow("group caption") << std::function<QString()>([] { return SegmentMap::groupCaption(10); }) << "第十组"
                                   << "Group 10";
    QTest::newRow("parameter set file error")
        << std::function<QString()>([] { return ParameterSet::fromJson("[1,2]").error; })
        << "参数集文件有误：不是参数集"
        << "Parameter set file is faulty: not a parameter set";
    QTest::newRow("restore report")
        << std::function<QString()>([] {
               ParameterSet::Report report;
               report.readBack = true;
               return ParameterSet::reportLines(report).join(u'\n');
           })
        << "已写入 0 项，仪表拒收 0 项，未写入 0 项。\n读回后与文件一致。"
        << "0 written, 0 refused by the instrument, 0 not written.\nRead back: the instrument matches the file.";
    QTest::newRow("entry refusal") << std::function<QString()>([] {
        return ParamTable::entryVerdict(19, u"300").refusal;
    }) << "超出范围 1 ~ 255"
                                   << "Out of range 1 ~ 255";
}

void TestTranslations::tableTextsFollowTheTranslator()
{
    QFETCH(std::function<QString()>, shown);
    QFETCH(QString, chinese);
    QFETCH(QString, english);
    QCOMPARE(shown(), chinese);
    QTranslator translator;
    QString error;
    QVERIFY2(Language::install(translator, "en", Language::searchPath(QCoreApplication::applicationDirPath()), &error),
             qPrintable(error));
    const QString translated = shown();
    QCoreApplication::removeTranslator(&translator);
    QCOMPARE(translated, english);
    QCOMPARE(shown(), chinese);
}

// Every window the operator can reach, built in English: a Chinese text left
// on any label, button, frame title, tab, list entry, tip or title is a text
// that bypasses the translation.
void TestTranslations::englishWindowsShowNoChinese_data()
{
    QTest::addColumn<QStringList>("clicks"); // objectNames pressed in turn, each in the window on top
    QTest::newRow("main window") << QStringList{};
    QTest::newRow("parameters") << QStringList{"Command21"};
    QTest::newRow("PID tuning assistant") << QStringList{"Command21", "TuningButton"};
    QTest::newRow("output groups") << QStringList{"Command22"};
    QTest::newRow("history") << QStringList{"Command29"};
    QTest::newRow("event journal") << QStringList{"Command30"};
    QTest::newRow("PID tuning from the main window") << QStringList{"TuningButton"};
}

void TestTranslations::englishWindowsShowNoChinese()
{
    QFETCH(QStringList, clicks);
    QTranslator translator;
    QString error;
    QVERIFY2(Language::install(translator, "en", Language::searchPath(QCoreApplication::applicationDirPath()), &error),
             qPrintable(error));
    StationOptions options;
    options.connect = true; // the parameter windows need an open port
    options.databasePath = dir_.filePath(QStringLiteral("en-%1.db").arg(QTest::currentDataTag()));
    StationApp app(options, std::make_unique<FakeModbus485>(), LinkClient::Mode::Inline);
    QSignalSpy polled(&app.station().polling, &PollingCycle::cycleCompleted);
    app.handOver();
    // The state labels take their wording from the first polled image.
    QVERIFY(polled.wait(5000));
    QTest::qWait(1200);
    QWidget* window = app.mainWindow();
    const auto visibleWindows = [] {
        QSet<QWidget*> shown;
        for (QWidget* top : QApplication::topLevelWidgets())
            if (top->isVisible())
                shown << top;
        return shown;
    };
    for (const QString& name : clicks) {
        auto* button = window->findChild<QAbstractButton*>(name);
        QVERIFY2(button, qPrintable(name));
        const QSet<QWidget*> before = visibleWindows();
        button->click();
        QTRY_VERIFY(!(visibleWindows() - before).isEmpty());
        window = *(visibleWindows() - before).cbegin();
    }
    if (auto* journal = window->findChild<QTableView*>(QStringLiteral("JournalTable")))
        QTRY_VERIFY(journal->model()->rowCount() > 0); // the start-up row, read in the background
    QStringList chinese;
    const auto check = [&chinese](QWidget* w, const QString& what, const QString& text) {
        if (hasHan(text))
            chinese << QStringLiteral("%1 %2: %3").arg(w->objectName(), what, text);
    };
    QList<QWidget*> widgets = window->findChildren<QWidget*>();
    widgets.prepend(window);
    for (QWidget* w : widgets) {
        check(w, QStringLiteral("title"), w->windowTitle());
        check(w, QStringLiteral("tip"), w->toolTip());
        if (auto* label = qobject_cast<QLabel*>(w))
            check(w, QStringLiteral("text"), label->text());
        if (auto* button = qobject_cast<QAbstractButton*>(w))
            check(w, QStringLiteral("text"), button->text());
        if (auto* box = qobject_cast<QGroupBox*>(w))
            check(w, QStringLiteral("title"), box->title());
        if (auto* edit = qobject_cast<QLineEdit*>(w))
            check(w, QStringLiteral("placeholder"), edit->placeholderText());
        if (auto* tabs = qobject_cast<QTabWidget*>(w))
            for (int i = 0; i < tabs->count(); ++i)
                check(w, QStringLiteral("tab"), tabs->tabText(i));
        if (auto* combo = qobject_cast<QComboBox*>(w))
            for (int i = 0; i < combo->count(); ++i)
                check(w, QStringLiteral("entry"), combo->itemText(i));
        // Table cells the station wrote (the journal's start-up row), not
        // operator data; none clipped in the journal's kind column.
        if (auto* table = qobject_cast<QTableView*>(w)) {
            const QAbstractItemModel* model = table->model();
            for (int r = 0; model && r < std::min(model->rowCount(), 20); ++r)
                for (int c = 0; c < model->columnCount(); ++c) {
                    const QString cell = model->index(r, c).data().toString();
                    check(w, QStringLiteral("cell"), cell);
                    if (w->objectName() == QLatin1String("JournalTable") && c == 1
                        && table->columnWidth(c) < table->fontMetrics().horizontalAdvance(cell) + 8)
                        chinese << QStringLiteral("JournalTable kind clipped: ") + cell;
                }
        }
    }
    app.shutdown();
    QCoreApplication::removeTranslator(&translator);
    QVERIFY2(chinese.isEmpty(), qPrintable(chinese.join(u'\n')));
}

// Qt's own dialogs speak Chinese in the Chinese interface; English needs
// nothing, Qt's source text is English.
void TestTranslations::qtOwnTranslationOnlyForChinese()
{
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    QTranslator translator;
    QVERIFY(!Language::installQt(translator, "en", folder));
    QTemporaryDir empty;
    QVERIFY(!Language::installQt(translator, "zh", empty.path()));
    if (!QFile::exists(folder + QStringLiteral("/qtbase_zh_CN.qm")))
        QSKIP("Qt's Chinese translation is not installed");
    QVERIFY(Language::installQt(translator, "zh", folder));
    const QString cancel = QCoreApplication::translate("QPlatformTheme", "Cancel");
    QCoreApplication::removeTranslator(&translator);
    QVERIFY2(hasHan(cancel), qPrintable(cancel));
}

QTEST_MAIN(TestTranslations)
#include "tst_translations.moc"
