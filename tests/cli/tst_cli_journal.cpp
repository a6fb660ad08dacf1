#include "CliApp.h"
#include "JournalEvent.h"
#include "JournalStore.h"
#include "SimServer.h"

#include <QBuffer>
#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>
#include <thread>

// px5800-cli's writes in the event journal, as the station's write rows,
// against the simulated instrument, in-process.
class TestCliJournal : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init() { startSim(false); }
    void cleanup() { sim_.reset(); }
    void setRows_data();
    void setRows();
    void failedWrite();
    void paramsRestoreRowsNameTheRegister();
    void stationHoldingTheJournal();
    void unusableJournalNeverStopsTheWrite();
    void defaultJournalBesideTheDefaultHistory();

private:
    void startSim(bool wireTiming);
    int run(const QStringList& args, QByteArray* err = nullptr);
    // kind|source|message|old|new|result|operator per row, oldest first, by the sqlite3 shell.
    QStringList rows(const QString& path);
    QString journal() const
    {
        return dir_.filePath(QStringLiteral("%1 %2.db").arg(QTest::currentTestFunction(), QTest::currentDataTag()));
    }

    QTemporaryDir dir_;
    QString journal_; // --journal; empty: the default
    std::unique_ptr<SimServer> sim_;
};

void TestCliJournal::initTestCase()
{
    qputenv("HOME", dir_.filePath(QStringLiteral("home")).toLocal8Bit()); // never the real home
    QStandardPaths::setTestModeEnabled(true);
}

void TestCliJournal::startSim(bool wireTiming)
{
    journal_ = journal();
    sim_.reset();
    SimOptions o;
    o.link = dir_.filePath(QStringLiteral("line"));
    o.speed = 20;
    o.wireTiming = wireTiming;
    o.turnaroundMs = 60;
    sim_ = std::make_unique<SimServer>(o);
    QVERIFY(sim_->start());
}

int TestCliJournal::run(const QStringList& args, QByteArray* err)
{
    QBuffer o, e;
    o.open(QIODevice::WriteOnly);
    e.open(QIODevice::WriteOnly);
    QStringList line{"px5800-cli", args.first(), "--port", "1=" + dir_.filePath(QStringLiteral("line"))};
    if (!journal_.isEmpty())
        line << "--journal" << journal_;
    const int code = runCli(line + args.mid(1), o, e);
    if (err)
        *err = e.data();
    return code;
}

QStringList TestCliJournal::rows(const QString& path)
{
    QProcess p;
    p.start("sqlite3",
            {"-nullvalue", "NULL", path,
             "SELECT kind, source, message, old_value, new_value, result, operator FROM events ORDER BY id"});
    p.waitForFinished(10000);
    return QString::fromUtf8(p.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
}

void TestCliJournal::setRows_data()
{
    QTest::addColumn<QStringList>("prepare"); // simulator commands
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("row");    // without the operator; OLD: any value in tenths
    QTest::addColumn<QString>("writes"); // the simulator's register writes

    QTest::newRow("sv verified") << QStringList{"set hr 1 300"} << QStringList{"set", "sv", "320"} << 0
                                 << "write|SV|修改SV值|300|320|verified"
                                 << "1=320";
    QTest::newRow("sv refused") << QStringList{} << QStringList{"set", "sv", "10000"} << 2
                                << "write|SV|修改SV值：输入被拒绝|NULL|10000|refused: 超出范围 -1999 ~ 9999"
                                << "";
    QTest::newRow("op refused in automatic")
        << QStringList{"set coil 2 1"} << QStringList{"set", "op", "50"} << 2
        << "write|OP|修改手动输出：输入被拒绝|OLD|50|refused: 自动状态下不能修改手动输出"
        << "";
    QTest::newRow("op in tenths") << QStringList{"set coil 2 0", "set hr 2 250"} << QStringList{"set", "op", "45.25"}
                                  << 0 << "write|OP|修改手动输出|25.0|45.2|verified"
                                  << "2=452";
    QTest::newRow("mode coil") << QStringList{"set coil 2 1"} << QStringList{"set", "mode", "manual"} << 0
                               << "write|coil 2|修改手动/自动|1|0|verified"
                               << "";
}

void TestCliJournal::setRows()
{
    QFETCH(QStringList, prepare);
    QFETCH(QStringList, args);
    QFETCH(int, code);
    QFETCH(QString, row);
    QFETCH(QString, writes);
    for (const QString& c : prepare)
        QCOMPARE(sim_->command(c), QStringLiteral("ok"));
    // A scan: the input registers show the set value and, in manual, the output.
    QTRY_VERIFY_WITH_TIMEOUT(
        sim_->command("get ir 3") == sim_->command("get hr 1")
            && (sim_->command("get coil 2") != "0" || sim_->command("get ir 2") == sim_->command("get hr 2")),
        2000);
    sim_->command("writes clear");
    QByteArray err;
    QCOMPARE(run(args, &err), code);
    QVERIFY2(!err.contains("journal"), err.constData());
    QCOMPARE(sim_->command("writes"), writes);
    const QString pattern = QRegularExpression::escape(row + u'|' + currentOperator()).replace("OLD", "\\d+\\.\\d");
    const QStringList r = rows(journal_);
    QCOMPARE(r.size(), 1);
    QVERIFY2(QRegularExpression(QRegularExpression::anchoredPattern(pattern)).match(r[0]).hasMatch(), qPrintable(r[0]));
}

void TestCliJournal::failedWrite()
{
    // The poll is answered; the write and its one repeat are lost on the line.
    QCOMPARE(sim_->command("deaf-writes 2"), QStringLiteral("ok"));
    QCOMPARE(run({"set", "sv", "320"}), 1);
    QCOMPARE(sim_->command("get hr 1"), QStringLiteral("100"));
    QCOMPARE(rows(journal_),
             QStringList{"write|SV|修改SV值（重发一次后仍失败，timeout）|100|320|failed|" + currentOperator()});
}

void TestCliJournal::paramsRestoreRowsNameTheRegister()
{
    for (const char* c : {"set hr 4108 1", "set hr 4130 100", "set hr 4612 55"})
        sim_->command(QString::fromLatin1(c));
    const QString saved = dir_.filePath(QStringLiteral("set.json"));
    QCOMPARE(run({"params", "dump", "--out", saved}), 0);
    QVERIFY(!QFile::exists(journal_)); // reading journals nothing
    sim_->command("set hr 4108 3");
    sim_->command("set hr 4612 70");
    QCOMPARE(run({"params", "restore", saved, "--yes"}), 0);
    // The register as the source, tenths as the window shows them, each verified by the read-back.
    const QRegularExpression expected(QStringLiteral("^write\\|4108\\|修改[^|]+\\|3\\|1\\|verified\\|[^|]+\n"
                                                     "write\\|4130\\|修改[^|]+\\|10.0\\|10.0\\|verified\\|[^|]+\n"
                                                     "write\\|4612\\|修改[^|]+\\|7.0\\|5.5\\|verified\\|[^|]+$"));
    const QString all = rows(journal_).join(u'\n');
    QVERIFY2(expected.match(all).hasMatch(), qPrintable(QString(all).replace(u'\n', u' ')));
}

void TestCliJournal::stationHoldingTheJournal()
{
    JournalStore station(QStringLiteral("station"));
    QVERIFY(station.open(journal_));
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("holder"));
        db.setDatabaseName(journal_);
        QVERIFY(db.open());
        QSqlQuery q(db);
        QVERIFY(q.exec("BEGIN IMMEDIATE"));
        QVERIFY(q.exec("INSERT INTO events(time_utc, kind, source, message) VALUES('x', 'system', 'station', 'held')"));
        QByteArray err;
        int code = -1;
        std::thread cli([&] { code = run({"set", "sv", "123"}, &err); });
        QTest::qWait(1500); // far beyond the station's own busy timeout
        QVERIFY(q.exec("COMMIT"));
        cli.join();
        QCOMPARE(code, 0);
        QCOMPARE(err, QByteArray());
    }
    QSqlDatabase::removeDatabase(QStringLiteral("holder"));
    const QStringList r = rows(journal_);
    QCOMPARE(r.size(), 2);
    QVERIFY2(r[1].startsWith("write|SV|修改SV值|") && r[1].contains("|123|verified|"), qPrintable(r[1]));
}

void TestCliJournal::unusableJournalNeverStopsTheWrite()
{
    QFile file(dir_.filePath(QStringLiteral("a-file")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    journal_ = file.fileName() + QStringLiteral("/Journal.db"); // its folder is a file
    QByteArray err;
    QCOMPARE(run({"set", "sv", "222"}, &err), 0);
    QCOMPARE(sim_->command("get hr 1"), QStringLiteral("222"));
    QCOMPARE(err.count('\n'), 1);
    QVERIFY2(err.startsWith("px5800-cli set: journal not written: "), err.constData());
}

void TestCliJournal::defaultJournalBesideTheDefaultHistory()
{
    QCoreApplication::setOrganizationName(QStringLiteral("px5800"));
    QCoreApplication::setApplicationName(QStringLiteral("px5800"));
    const QString folder = QDir::homePath() + QStringLiteral("/.qttest/share/px5800/px5800/");
    journal_.clear();
    QCOMPARE(run({"set", "sv", "321"}), 0);
    const QStringList r = rows(folder + QStringLiteral("Journal.db"));
    QCOMPARE(r.size(), 1);
    QVERIFY2(r[0].contains("|321|verified|"), qPrintable(r[0]));
    QVERIFY(!QFile::exists(folder + QStringLiteral("Rdatabj.db"))); // the history is not touched
}

QTEST_GUILESS_MAIN(TestCliJournal)
#include "tst_cli_journal.moc"
