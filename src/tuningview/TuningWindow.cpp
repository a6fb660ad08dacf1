#include "TuningWindow.h"
#include "TuningChart.h"
#include "StationClock.h"

#include "HistoryPeriod.h"
#include "LinkClient.h"
#include "TuningLog.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDateTimeEdit>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QThread>
#include <QVBoxLayout>

#include <algorithm>

namespace {

QDoubleSpinBox* spin(const char* name, double low, double high, double value, int decimals, const QString& suffix)
{
    auto* s = new QDoubleSpinBox;
    s->setObjectName(QLatin1String(name));
    s->setRange(low, high);
    s->setDecimals(decimals);
    s->setValue(value);
    s->setSuffix(suffix);
    return s;
}

QLabel* label(const char* name)
{
    auto* l = new QLabel;
    l->setObjectName(QLatin1String(name));
    return l;
}

QString pidCell(const InstrumentPid& p, int which)
{
    switch (which) {
    case 0: return QString::number(p.band);
    case 1: return QStringLiteral("%1 s").arg(p.integral);
    default: return QStringLiteral("%1 s").arg(p.derivativeTenths / 10.0, 0, 'f', 1);
    }
}

} // namespace

TuningWindow::TuningWindow(LinkClient& link, QString databasePath, QWidget* parent)
    : QWidget(parent), link_(link), databasePath_(std::move(databasePath)), writes_(link, this), test_(writes_),
      pollTimer_(this)
{
    setObjectName(QStringLiteral("TuningWindow"));
    setWindowTitle(tr("PID整定助手"));
    setAttribute(Qt::WA_DeleteOnClose);
    buildUi();
    clock_.start();
    pollTimer_.setObjectName(QStringLiteral("TuningPoll"));
    pollTimer_.setInterval(kPollIntervalMs);
    connect(&pollTimer_, &QTimer::timeout, this, &TuningWindow::poll);
    pollTimer_.start();
    connect(&link_, &LinkClient::portStateChanged, this, [this](PortState state) {
        if (state != PortState::Open)
            test_.linkLost();
    });
    test_.setObserver([this] { testChanged(); });
    updateButtons();
}

TuningWindow::~TuningWindow()
{
    // A window torn down mid-test still puts the instrument back.
    test_.setObserver({});
    if (test_.running())
        test_.stop();
    test_.sendRestoreAtOnce(); // its answers would come to a window that is gone
}

void TuningWindow::buildUi()
{
    auto* stepBox = new QGroupBox(tr("阶跃测试"));
    auto* stepForm = new QFormLayout(stepBox);
    stepSize_ = spin("StepSize", -100.0, 100.0, 10.0, 1, QStringLiteral(" %"));
    duration_ = spin("StepDuration", 30.0, 36000.0, 900.0, 0, QStringLiteral(" s"));
    bandLow_ = spin("BandLow", -1999.0, 9999.0, 0.0, 0, QString());
    bandHigh_ = spin("BandHigh", -1999.0, 9999.0, 1300.0, 0, QString());
    stepForm->addRow(tr("输出阶跃"), stepSize_);
    stepForm->addRow(tr("记录时间"), duration_);
    stepForm->addRow(tr("PV下限"), bandLow_);
    stepForm->addRow(tr("PV上限"), bandHigh_);
    startButton_ = new QPushButton(tr("开始"));
    startButton_->setObjectName(QStringLiteral("StartButton"));
    stopButton_ = new QPushButton(tr("停止"));
    stopButton_->setObjectName(QStringLiteral("StopButton"));
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(startButton_);
    buttons->addWidget(stopButton_);
    stepForm->addRow(buttons);
    testState_ = label("TestState");
    testState_->setWordWrap(true);
    stepForm->addRow(testState_);
    connect(startButton_, &QPushButton::clicked, this, &TuningWindow::startTest);
    connect(stopButton_, &QPushButton::clicked, this, &TuningWindow::stopTest);

    auto* periodBox = new QGroupBox(tr("历史记录时段"));
    auto* periodForm = new QFormLayout(periodBox);
    const QDateTime now = QDateTime::currentDateTime();
    from_ = new QDateTimeEdit(now.addSecs(-3600));
    from_->setObjectName(QStringLiteral("PeriodFrom"));
    to_ = new QDateTimeEdit(now);
    to_->setObjectName(QStringLiteral("PeriodTo"));
    for (QDateTimeEdit* e : {from_, to_})
        e->setDisplayFormat(TimeText::format());
    periodForm->addRow(tr("从"), from_);
    periodForm->addRow(tr("到"), to_);
    analyseButton_ = new QPushButton(tr("分析"));
    analyseButton_->setObjectName(QStringLiteral("AnalyseButton"));
    periodForm->addRow(analyseButton_);
    connect(analyseButton_, &QPushButton::clicked, this, &TuningWindow::analyseHistory);

    auto* resultBox = new QGroupBox(tr("辨识与建议"));
    auto* grid = new QGridLayout(resultBox);
    fitResult_ = label("FitResult");
    fitResult_->setWordWrap(true);
    grid->addWidget(fitResult_, 0, 0, 1, 3);
    speed_ = new QComboBox;
    speed_->setObjectName(QStringLiteral("SpeedChoice"));
    speed_->addItems({tr("快速"), tr("稳健")});
    speed_->setCurrentIndex(1);
    kind_ = new QComboBox;
    kind_->setObjectName(QStringLiteral("KindChoice"));
    kind_->addItems({QStringLiteral("PI"), QStringLiteral("PID")});
    kind_->setCurrentIndex(1);
    grid->addWidget(speed_, 1, 1);
    grid->addWidget(kind_, 1, 2);
    grid->addWidget(new QLabel(tr("当前")), 2, 1);
    grid->addWidget(new QLabel(tr("建议")), 2, 2);
    const QString rows[] = {tr("比例带"), tr("积分时间"), tr("微分时间")};
    static const char* presentNames[] = {"PresentBand", "PresentIntegral", "PresentDerivative"};
    static const char* suggestedNames[] = {"SuggestedBand", "SuggestedIntegral", "SuggestedDerivative"};
    for (int i = 0; i < 3; ++i) {
        grid->addWidget(new QLabel(rows[i]), 3 + i, 0);
        presentLabels_[i] = label(presentNames[i]);
        suggestedLabels_[i] = label(suggestedNames[i]);
        grid->addWidget(presentLabels_[i], 3 + i, 1);
        grid->addWidget(suggestedLabels_[i], 3 + i, 2);
    }
    writeButton_ = new QPushButton(tr("写入"));
    writeButton_->setObjectName(QStringLiteral("WriteButton"));
    grid->addWidget(writeButton_, 6, 2);
    writeState_ = label("WriteState");
    grid->addWidget(writeState_, 7, 0, 1, 3);
    connect(speed_, &QComboBox::currentIndexChanged, this, &TuningWindow::updateSuggestion);
    connect(kind_, &QComboBox::currentIndexChanged, this, &TuningWindow::updateSuggestion);
    connect(writeButton_, &QPushButton::clicked, this, &TuningWindow::writeSuggestion);

    chart_ = new TuningChart;

    auto* left = new QVBoxLayout;
    left->addWidget(stepBox);
    left->addWidget(periodBox);
    left->addStretch(1);
    auto* right = new QVBoxLayout;
    right->addWidget(resultBox);
    right->addWidget(chart_, 1);
    auto* outer = new QHBoxLayout(this);
    outer->addLayout(left);
    outer->addLayout(right, 1);
    resize(1000, 640);
}

void TuningWindow::poll()
{
    if (!link_.isOpen())
        return;
    link_.readBatch(this,
                    {{ReadFn::Get_3X_D8, 1},
                     {ReadFn::Get_0X_B16, 1},
                     {ReadFn::Get_4X_D8, InstrumentPid::kBandRegister},
                     {ReadFn::Get_4X_D8, kGroupingRegister}},
                    [this](const QVector<ReadResult>& results) { applyReads(results); });
}

void TuningWindow::applyReads(const QVector<ReadResult>& results)
{
    const bool ok =
        results.size() == 4 && std::all_of(results.begin(), results.end(), [](const ReadResult& r) { return r.ok(); });
    if (!ok) {
        if (++failedPolls_ >= kLostAfterFailedPolls)
            test_.linkLost();
        return;
    }
    failedPolls_ = 0;
    pv_ = qint16(results[0].data[0]);
    op_ = qint16(results[0].data[1]) / 10.0;
    automatic_ = (results[1].data[0] >> (StepTest::kAutomaticCoil - 1)) & 1;
    manualPermitted_ = (results[1].data[0] >> (StepTest::kManualPermittedCoil - 1)) & 1;
    const bool grouping = results[3].data[0] != 0;
    if (grouping != grouping_) {
        grouping_ = grouping;
        updateSuggestion();
    }
    present_.band = qint16(results[2].data[0]);
    present_.integral = qint16(results[2].data[2]);
    present_.derivativeTenths = qint16(results[2].data[3]);
    haveLive_ = havePresent_ = true;
    // With grouping on, the instrument computes with a segment's PID group,
    // not with these registers: showing them as "present" would mislead.
    for (int i = 0; i < 3; ++i)
        presentLabels_[i]->setText(grouping_ ? tr("分组") : pidCell(present_, i));

    const bool wasRunning = test_.running();
    test_.sample(clock_.elapsed() / 1000.0, pv_, op_, automatic_); // also resends an unanswered restore
    if (wasRunning) {
        std::vector<double> pv, op;
        for (const TimedSample& s : test_.samples()) {
            pv.push_back(s.pv);
            op.push_back(s.op);
        }
        chart_->setData(std::move(pv), std::move(op), {}, kPollIntervalMs / 1000.0);
    }
    updateButtons();
}

void TuningWindow::startTest()
{
    if (!haveLive_) {
        testState_->setText(tr("尚未读到仪表数据"));
        return;
    }
    StepTest::Settings s;
    s.stepPercent = stepSize_->value();
    s.durationS = duration_->value();
    s.bandLow = bandLow_->value();
    s.bandHigh = bandHigh_->value();
    const QString refused = test_.start(s, {automatic_, op_, pv_, manualPermitted_}, clock_.elapsed() / 1000.0);
    if (!refused.isEmpty())
        testState_->setText(refused);
    else if (test_.running()) {
        fit_ = FopdtFit{};
        suggestion_.reset();
        fitResult_->clear();
        updateSuggestion();
    }
    updateButtons();
}

void TuningWindow::stopTest() { test_.stop(); }

void TuningWindow::testChanged()
{
    const bool aborted = test_.state() == StepTest::State::Aborted;
    const QString reason = aborted ? StepTest::abortText(test_.abortReason()) : tr("测试完成");
    if (test_.running())
        testState_->setText(test_.state() == StepTest::State::Baseline ? tr("基线记录中") : tr("阶跃后记录中"));
    else if (test_.restorePending())
        testState_->setText(tr("%1; 恢复未完成: 仪表仍在测试的模式和输出, 通讯恢复后重发").arg(reason));
    else if (aborted)
        testState_->setText(tr("已中止并恢复: %1").arg(reason));
    else if (test_.state() == StepTest::State::Finished)
        testState_->setText(tr("测试完成, 已恢复原模式和输出"));
    updateButtons();
    if (test_.running())
        testWasRunning_ = true;
    else if (testWasRunning_) {
        testWasRunning_ = false;
        if (test_.state() == StepTest::State::Finished)
            analyseTest();
    }
}

void TuningWindow::analyseTest()
{
    const std::vector<TimedSample> samples = test_.samples();
    analyse([samples] {
        Analysis a;
        a.series = resample(samples, 1.0);
        a.fit = Fopdt::fit(a.series.pv, a.series.op, a.series.period);
        return a;
    });
}

void TuningWindow::analyseHistory()
{
    const QString path = databasePath_;
    const QDateTime from = from_->dateTime();
    const QDateTime to = to_->dateTime();
    analyse([path, from, to] {
        Analysis a;
        if (auto s = HistoryPeriod::read(path, from, to, &a.error)) {
            a.series = std::move(*s);
            a.fit = Fopdt::fit(a.series.pv, a.series.op, a.series.period);
        }
        return a;
    });
}

void TuningWindow::analyse(std::function<Analysis()> job)
{
    analysing_ = true;
    fitResult_->setText(tr("辨识中…"));
    updateButtons();
    QPointer<TuningWindow> self(this);
    QThread* thread = QThread::create([self, job = std::move(job)] {
        const Analysis a = job();
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, a] {
                if (self)
                    self->showAnalysis(a);
            },
            Qt::QueuedConnection);
    });
    connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    thread->start();
}

void TuningWindow::showAnalysis(const Analysis& a)
{
    analysing_ = false;
    fit_ = a.fit;
    if (!a.error.isEmpty()) {
        fitResult_->setText(a.error);
    } else {
        fitResult_->setText(tr("K = %1 /%   τ = %2 s   θ = %3 s   R² = %4   残差 = %5\n%6")
                                .arg(fit_.model.gain, 0, 'g', 4)
                                .arg(fit_.model.timeConstant, 0, 'f', 1)
                                .arg(fit_.model.deadTime, 0, 'f', 0)
                                .arg(fit_.r2, 0, 'f', 4)
                                .arg(fit_.residualRms, 0, 'f', 3)
                                .arg(Fopdt::verdictText(fit_)));
        chart_->setData(a.series.pv, a.series.op, fit_.modelPv, a.series.period);
    }
    updateSuggestion();
}

void TuningWindow::updateSuggestion()
{
    suggestion_.reset();
    if (fit_.usable()) {
        const auto s = Simc::suggest(fit_.model, kind_->currentIndex() == 0 ? ControllerKind::PI : ControllerKind::PID,
                                     speed_->currentIndex() == 0 ? TuningSpeed::Fast : TuningSpeed::Robust);
        if (s)
            suggestion_ = InstrumentPid::fromSettings(*s);
    }
    for (int i = 0; i < 3; ++i)
        suggestedLabels_[i]->setText(suggestion_ ? pidCell(*suggestion_, i) : QString());
    if (grouping_)
        writeState_->setText(tr("分组PID已打开(4609 ≠ 0): 仪表按PV所在段使用PID组, 不用这三个参数; "
                                "请在\"分段输出和分组PID\"窗口中修改相应的组"));
    else if (writeState_->text().startsWith(tr("分组PID已打开")))
        writeState_->clear();
    updateButtons();
}

void TuningWindow::writeSuggestion()
{
    if (!suggestion_ || test_.running() || grouping_)
        return;
    // Said from the answers: a write only queued on a dead line is not written.
    writeState_->setText(tr("正在写入…"));
    const int round = ++writeRound_; // a later click's answers speak, not an earlier one's
    const bool sent = writes_.writePid(*suggestion_, [this, round, guard = QPointer(this)](const QString& failure) {
        if (guard && round == writeRound_)
            writeState_->setText(failure.isEmpty() ? tr("已写入") : tr("写入失败：%1").arg(failure));
    });
    if (!sent)
        writeState_->setText(tr("建议值超出参数范围, 未写入"));
}

void TuningWindow::updateButtons()
{
    const bool running = test_.running();
    startButton_->setEnabled(!running && !test_.restorePending() && !analysing_);
    stopButton_->setEnabled(running);
    analyseButton_->setEnabled(!running && !analysing_);
    writeButton_->setEnabled(!running && !analysing_ && !grouping_ && suggestion_.has_value());
}

void TuningWindow::closeEvent(QCloseEvent* event)
{
    test_.stop();
    // The window carries the restore: closed now, it would never be sent again.
    if (test_.restorePending()) {
        testState_->setText(tr("恢复未完成, 窗口在仪表恢复原模式和输出后才能关闭"));
        event->ignore();
        return;
    }
    event->accept();
}
