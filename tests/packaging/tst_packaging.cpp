#include "Language.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QMap<QString, QString> programs() // name -> built executable
{
    QMap<QString, QString> m;
    for (const QString& entry : QString::fromUtf8(PX_PROGRAMS).split(u'|', Qt::SkipEmptyParts))
        m.insert(entry.section(u'=', 0, 0), entry.section(u'=', 1));
    return m;
}

QString sourceFile(const QString& relative) { return QStringLiteral(PX_SOURCE_DIR "/") + relative; }

struct Run {
    int exitCode = -1;
    QByteArray out, err;
};

Run run(const QString& program, const QStringList& args)
{
    QProcess p;
    p.start(program, args);
    Run r;
    if (!p.waitForFinished(60000))
        return r;
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

} // namespace

class TestPackaging : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void desktopEntry();
    void manPage_data();
    void manPage();
    void installLayout();
};

void TestPackaging::desktopEntry()
{
    QFile f(sourceFile("packaging/px5800.desktop"));
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(f.readAll()).split(u'\n');
    QVERIFY(lines.contains(QStringLiteral("Name=过程控制仪表 PX5800")));
    QVERIFY(lines.contains(QStringLiteral("Name[en]=PX5800 operator station")));
    QVERIFY(lines.contains(QStringLiteral("Icon=px5800")));
    QVERIFY(lines.contains(QStringLiteral("Exec=px5800 --demo")));

    const QString validator = QStandardPaths::findExecutable("desktop-file-validate");
    if (validator.isEmpty())
        QSKIP("desktop-file-validate is not installed (desktop-file-utils)");
    const Run r = run(validator, {f.fileName()});
    QVERIFY2(r.exitCode == 0 && r.out.isEmpty(), (r.out + r.err).constData());
}

// Every option a program's --help offers is in its manual page, and the page
// renders without a groff warning.
void TestPackaging::manPage_data()
{
    QTest::addColumn<QString>("executable");
    QTest::addColumn<QString>("page");
    const auto built = programs();
    for (auto it = built.begin(); it != built.end(); ++it)
        QTest::newRow(qPrintable(it.key())) << it.value() << sourceFile("packaging/man/" + it.key() + ".1");
}

void TestPackaging::manPage()
{
    QFETCH(QString, executable);
    QFETCH(QString, page);
    QFile f(page);
    QVERIFY2(f.open(QIODevice::ReadOnly), qPrintable(page));
    const QString roff = QString::fromUtf8(f.readAll()).replace(QStringLiteral("\\-"), QStringLiteral("-"));

    const Run help = run(executable, {"--help"});
    QCOMPARE(help.exitCode, 0);
    static const QRegularExpression option(QStringLiteral("(?<![\\w-])--[a-z][a-z0-9-]*"));
    QStringList missing;
    for (const auto& m : option.globalMatch(QString::fromLocal8Bit(help.out)))
        if (!roff.contains(m.captured()) && !missing.contains(m.captured()))
            missing << m.captured();
    QVERIFY2(missing.isEmpty(), qPrintable("not in the manual page: " + missing.join(u' ')));

    const QString groff = QStandardPaths::findExecutable("groff");
    if (groff.isEmpty())
        QSKIP("groff is not installed");
    const Run render = run(groff, {"-man", "-ww", "-z", "-Tutf8", page});
    QVERIFY2(render.exitCode == 0 && render.err.isEmpty(), render.err.constData());
}

void TestPackaging::installLayout()
{
    QTemporaryDir prefix;
    const Run install = run(QStringLiteral("cmake"), {"--install", PX_BINARY_DIR, "--prefix", prefix.path()});
    QVERIFY2(install.exitCode == 0, install.err.constData());
    QDir root(prefix.path());

    QStringList expected{"share/applications/px5800.desktop", "share/icons/hicolor/scalable/apps/px5800.svg",
                         "share/px5800/translations/px5800_en.qm", "share/doc/px5800/copyright",
                         "share/doc/px5800/changelog.gz"};
    for (const QString& program : programs().keys())
        expected << "bin/" + program << "share/man/man1/" + program + ".1.gz";
    for (const QString& file : expected)
        QVERIFY2(root.exists(file), qPrintable(file + " not installed"));

    for (const QString& program : programs().keys()) {
        QFile page(root.filePath("share/man/man1/" + program + ".1.gz"));
        QVERIFY(page.open(QIODevice::ReadOnly));
        QCOMPARE(page.read(2), QByteArray("\x1f\x8b"));
    }
    // The installed program looks for its translations where they were put.
    const QString firstFolder = Language::searchPath(root.filePath("bin")).first();
    QVERIFY2(QFile::exists(firstFolder + "/px5800_en.qm"), qPrintable(firstFolder));
}

QTEST_MAIN(TestPackaging)
#include "tst_packaging.moc"
