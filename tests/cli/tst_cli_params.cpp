#include "CliApp.h"
#include "ParameterSet.h"
#include "SimServer.h"

#include <QBuffer>
#include <QTemporaryDir>
#include <QtTest>

// px5800-cli params against the simulated instrument, in-process.
class TestCliParams : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void dumpDiffRestore();
    void refusedInputWritesNothing_data();
    void refusedInputWritesNothing();

private:
    int run(QStringList args, QByteArray* out = nullptr, QByteArray* err = nullptr);
    QString file(const QString& name) const { return dir_.filePath(name); }

    QTemporaryDir dir_;
    std::unique_ptr<SimServer> sim_;
};

// The writes go to the default journal: keep it out of the real home.
void TestCliParams::initTestCase() { QStandardPaths::setTestModeEnabled(true); }

void TestCliParams::init()
{
    SimOptions o;
    o.link = file(QStringLiteral("line"));
    o.speed = 20;
    sim_ = std::make_unique<SimServer>(o);
    QString error;
    QVERIFY2(sim_->start(&error), qPrintable(error));
    for (const char* c : {"set hr 4108 1", "set hr 4130 100", "set hr 4612 55", "writes clear"})
        QCOMPARE(sim_->command(QString::fromLatin1(c)), QStringLiteral("ok"));
    QTest::qWait(100); // a few scans
}

void TestCliParams::cleanup() { sim_.reset(); }

int TestCliParams::run(QStringList args, QByteArray* out, QByteArray* err)
{
    QBuffer o, e;
    o.open(QIODevice::WriteOnly);
    e.open(QIODevice::WriteOnly);
    args = QStringList{QStringLiteral("px5800-cli"), QStringLiteral("params"), QStringLiteral("--port"),
                       QStringLiteral("1=") + file(QStringLiteral("line"))}
           + args;
    const int code = runCli(args, o, e);
    if (out)
        *out = o.data();
    if (err)
        *err = e.data();
    return code;
}

void TestCliParams::dumpDiffRestore()
{
    const QString saved = file(QStringLiteral("set.json"));
    QCOMPARE(run({"dump", "--out", saved}), 0);
    ParameterSet::LoadResult set = ParameterSet::load(saved);
    QVERIFY2(set.file, qPrintable(set.error));
    QCOMPARE(set.file->values.value(4612), 55);
    QCOMPARE(run({"diff", saved}), 0);

    // Change the instrument: the file now differs in two rows.
    sim_->command(QStringLiteral("set hr 4108 3"));
    sim_->command(QStringLiteral("set hr 4612 70"));
    sim_->command(QStringLiteral("writes clear"));
    QByteArray out;
    QCOMPARE(run({"diff", saved}, &out), 3);
    QVERIFY2(out.contains("4612\t第一组 下限\t7\t5.5"), out.constData());
    QCOMPARE(out.count('\n'), 3); // heading and two rows

    // Without --yes: the plan, nothing written.
    QCOMPARE(run({"restore", saved}, &out), 0);
    QVERIFY2(out.contains("4108") && out.contains("dry run"), out.constData());
    QCOMPARE(sim_->command(QStringLiteral("writes")), QString());

    QCOMPARE(run({"restore", saved, "--yes"}, &out), 0);
    // Output type, its linked cycle time, the file's cycle time, the segment.
    QCOMPARE(sim_->command(QStringLiteral("writes")), QStringLiteral("4108=1 4130=100 4612=55"));
    QCOMPARE(run({"diff", saved}), 0);
}

void TestCliParams::refusedInputWritesNothing_data()
{
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<QStringList>("extra");
    QTest::addColumn<int>("code");
    const QByteArray good = "{\"format\":1,\"parameters\":[{\"register\":4108,\"raw\":2}]}";
    QTest::newRow("truncated") << good.left(30) << QStringList{} << 2;
    QTest::newRow("out of 16 bits") << QByteArray("{\"format\":1,\"sv\":[{\"register\":1,\"raw\":70000}]}")
                                    << QStringList{} << 2;
    QTest::newRow("--only not in file") << good << QStringList{"--only", "4099"} << 2;
    // Accepted as a file, refused as a value: reported, not written.
    QTest::newRow("editor refuses") << QByteArray("{\"format\":1,\"parameters\":[{\"register\":4108,\"raw\":7}]}")
                                    << QStringList{} << 3;
}

void TestCliParams::refusedInputWritesNothing()
{
    QFETCH(QByteArray, contents);
    QFETCH(QStringList, extra);
    QFETCH(int, code);
    const QString path = file(QStringLiteral("in.json"));
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(contents);
    f.close();
    QByteArray out, err;
    QCOMPARE(run(QStringList{"restore", path, "--yes"} + extra, &out, &err), code);
    QVERIFY(!(out + err).isEmpty());
    QCOMPARE(sim_->command(QStringLiteral("writes")), QString());
}

QTEST_GUILESS_MAIN(TestCliParams)
#include "tst_cli_params.moc"
