#include "FakeModbus485.h"
#include "Journal.h"
#include "JournalStore.h"
#include "LinkClient.h"
#include "ParamSetBar.h"
#include "WriteAudit.h"

#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

using namespace ParameterSet;

// The configuration window's parameter-set buttons, driven through their
// seams (no modal dialogs) on the recording fake of the Modbus library.
class ParamSetBarTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void backupThenRestoreAnotherInstrument();
    void brokenFileWritesNothing();
    void uncheckedRowStillDiffersAndIsSaid();

private:
    bool run(void (ParamSetBar::*action)());

    QTemporaryDir dir_;
    FakeModbus485* fake_ = nullptr;
    std::unique_ptr<LinkClient> link_;
    std::unique_ptr<ParamSetBar> bar_;
    QString chosen_;
    QStringList questions_;
    bool answer_ = true;
    QString told_;
    QVector<Difference> shown_;
    std::optional<QSet<int>> checked_; // what the dialog returns; nothing: every row
};

void ParamSetBarTest::init()
{
    fake_ = new FakeModbus485;
    link_ = std::make_unique<LinkClient>(std::unique_ptr<Modbus485>(fake_), LinkClient::Mode::Inline);
    link_->open(PortSettings{1, 1, 0, 1});
    fake_->setHoldingRegister(4108, 1);
    fake_->setHoldingRegister(4130, 100);
    fake_->setHoldingRegister(4116, 1);
    fake_->setHoldingRegister(4101, 5);
    bar_ = std::make_unique<ParamSetBar>(*link_);
    bar_->chooseFile = [this](ParamSetBar::FileUse, const QString&) { return chosen_; };
    bar_->confirm = [this](const QString& q) {
        questions_ << q;
        return answer_;
    };
    bar_->showDifferences = [this](bool, const QVector<Difference>& d, const QString&) {
        shown_ = d;
        if (checked_)
            return checked_;
        QSet<int> all;
        for (const Difference& x : d)
            all.insert(x.row->reg);
        return std::optional<QSet<int>>(all);
    };
    bar_->tell = [this](const QString& text, bool) { told_ = text; };
    questions_.clear();
    told_.clear();
    shown_.clear();
    checked_.reset();
}

void ParamSetBarTest::cleanup()
{
    bar_.reset();
    link_.reset();
}

bool ParamSetBarTest::run(void (ParamSetBar::*action)())
{
    QSignalSpy over(bar_.get(), &ParamSetBar::finishedWork);
    (bar_.get()->*action)();
    return !over.isEmpty() || over.wait(5000);
}

void ParamSetBarTest::backupThenRestoreAnotherInstrument()
{
    chosen_ = dir_.filePath(QStringLiteral("set.json"));
    QVERIFY(run(&ParamSetBar::backup));
    QVERIFY2(told_.contains(chosen_), qPrintable(told_));

    // The saved set, as if read from instrument 5 with another output type.
    LoadResult saved = load(chosen_);
    QVERIFY(saved.file);
    saved.file->values[4108] = 2;
    QVERIFY(save(chosen_, toJson(saved.file->values, PortSettings{1, 1, 0, 5}, QDateTime::currentDateTime()), nullptr));

    answer_ = false;
    fake_->clearCalls();
    QVERIFY(run(&ParamSetBar::restore));
    QCOMPARE(questions_.size(), 1);
    QVERIFY(questions_[0].contains(QStringLiteral("地址 5")) && questions_[0].contains(QStringLiteral("地址为 1")));
    QVERIFY(fake_->callsOf(QStringLiteral("Set_4X_D1")).isEmpty());

    answer_ = true;
    QVERIFY(run(&ParamSetBar::restore));
    QCOMPARE(shown_.size(), 1);
    QCOMPARE(fake_->callsOf(QStringLiteral("Set_4X_D1")),
             (QStringList{"Set_4X_D1(1,1,4108,2)", "Set_4X_D1(1,1,4130,20)", "Set_4X_D1(1,1,4130,100)"}));
    QVERIFY2(told_.contains(QStringLiteral("读回后与文件一致")), qPrintable(told_));
    const auto buttons = bar_->findChildren<QPushButton*>(QString(), Qt::FindDirectChildrenOnly);
    QCOMPARE(buttons.size(), 3);
    for (auto* button : buttons) // free for the next one
        QVERIFY(button->isEnabled());
}

void ParamSetBarTest::brokenFileWritesNothing()
{
    chosen_ = dir_.filePath(QStringLiteral("broken.json"));
    QFile f(chosen_);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("{\"format\":1,\"parameters\":[{\"register\":4108,");
    f.close();
    QVERIFY(run(&ParamSetBar::restore));
    QVERIFY2(told_.contains(QStringLiteral("JSON")), qPrintable(told_));
    QVERIFY(fake_->callsOf(QStringLiteral("Set_4X_D1")).isEmpty());
    QVERIFY(shown_.isEmpty());
}

// Only the filter is ticked: the report names the unticked band as still
// different, and the journal names the write as the editor does, in tenths.
void ParamSetBarTest::uncheckedRowStillDiffersAndIsSaid()
{
    chosen_ = dir_.filePath(QStringLiteral("two.json"));
    QVERIFY(run(&ParamSetBar::backup));
    LoadResult saved = load(chosen_);
    QVERIFY(saved.file);
    saved.file->values[4101] = 8;
    saved.file->values[4126] = 50;
    QVERIFY(save(chosen_, toJson(saved.file->values, PortSettings{1, 1, 0, 1}, QDateTime::currentDateTime()), nullptr));

    Journal journal(dir_.filePath(QStringLiteral("j.db")));
    WriteAudit audit(*link_, journal);
    bar_->setAudit(&audit);
    checked_ = QSet<int>{4101};
    fake_->clearCalls();
    QVERIFY(run(&ParamSetBar::restore));
    QCOMPARE(shown_.size(), 2);
    QCOMPARE(fake_->callsOf(QStringLiteral("Set_4X_D1")), QStringList{"Set_4X_D1(1,1,4101,8)"});
    QVERIFY2(!told_.contains(QStringLiteral("读回后与文件一致")), qPrintable(told_));
    const QStringList lines = told_.split(u'\n');
    const qsizetype unticked = lines.indexOf(QStringLiteral("未选中、仍与文件不同："));
    QVERIFY2(unticked > 0 && lines.value(unticked + 1).contains(QStringLiteral("4126")), qPrintable(told_));

    QVERIFY(journal.sync());
    JournalStore store(QStringLiteral("check"));
    QVERIFY(store.open(journal.path()));
    JournalFilter writes;
    writes.kind = QStringLiteral("write");
    const QList<JournalEvent> rows = store.page(writes, 0, 10);
    QCOMPARE(rows.size(), 1);
    QCOMPARE(QStringList({rows[0].source, rows[0].oldValue, rows[0].newValue}), (QStringList{"4101", "0.5", "0.8"}));
    QVERIFY2(!rows[0].message.contains(QStringLiteral("4101")), qPrintable(rows[0].message));
}

QTEST_MAIN(ParamSetBarTest)
#include "tst_paramsetbar.moc"
