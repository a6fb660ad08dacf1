#include "TrendView.h"

#include "BackgroundColour.h"
#include "Rounding.h"
#include "StateColours.h"
#include "StationClock.h"
#include "TrendChart.h"
#include "TrendCsvExport.h"
#include "TrendDialogs.h"
#include "TrendGeometry.h"
#include "TrendLog.h"
#include "TrendOutput.h"
#include "TrendYEditor.h"

#include <QDialog>
#include <QEvent>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QTimer>
#include <QVBoxLayout>

namespace {
// Looked up when shown: the translator is installed after static initialisation.
QString rulerOffCaption() { return TrendView::tr("F4 标尺"); }
QString rulerOnCaption() { return TrendView::tr("F4 复原"); }

QLabel* makeLabel(const QString& name, const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    return label;
}

QPushButton* makeButton(const QString& name, const QString& text, QWidget* parent)
{
    auto* button = new QPushButton(text, parent);
    button->setObjectName(name);
    button->setAutoDefault(false);
    return button;
}
} // namespace

TrendView::TrendView(const TrendStyle& style, HistorySource* source, TrendScale& scale, QWidget* parent)
    : TrendView(style, TrendHistory::at(source), scale, parent)
{
}

TrendView::TrendView(const TrendStyle& style, std::unique_ptr<TrendHistory> history, TrendScale& scale, QWidget* parent)
    : QWidget(parent), style_(style), model_(style.ring, std::move(history)), scale_(scale)
{
    model_.setLateResultHandler([this](const TrendCommandResult& result) {
        apply(result);
        redrawTrend();
    });
    model_.setPageReadHandler([this](bool readable) { emit historyReadable(readable); });
    setObjectName(QStringLiteral("trendView"));

    auto* top = new QHBoxLayout;
    for (int i = 0; i < 3; ++i) {
        static const char* const names[] = {"PV", "OP", "SV"};
        legend_[i] = makeLabel(QStringLiteral("Label8_%1").arg(i), QString::fromLatin1(names[i]), this);
        QFont bold = legend_[i]->font();
        bold.setBold(true);
        legend_[i]->setFont(bold);
        top->addWidget(legend_[i]);
    }
    setTextColour(legend_[0], style_.pv);
    setTextColour(legend_[1], style_.op);
    setTextColour(legend_[2], style_.sv);
    top->addStretch(1);
    clockDate_ = makeLabel(QStringLiteral("Label2_9"), QString(), this);
    clockTime_ = makeLabel(QStringLiteral("Label2_10"), QString(), this);
    for (QLabel* clock : {clockDate_, clockTime_}) {
        clock->setAlignment(Qt::AlignCenter);
        clock->setMinimumWidth(clock->fontMetrics().horizontalAdvance(QStringLiteral("0000-00-00")) + 12);
        clock->setFrameShape(QFrame::Panel);
        clock->setFrameShadow(QFrame::Sunken);
        setBackgroundColour(clock, StateColour::clock());
        top->addWidget(clock);
    }

    buildChartArea();
    buildFunctionFrame();

    auto* main = new QVBoxLayout(this);
    main->setContentsMargins(4, 4, 4, 4);
    main->setSpacing(4);
    main->addLayout(top);
    main->addWidget(area_, 1);
    main->addWidget(functionFrame_);

    dialogs_ = new TrendDialogs(this);
    connect(dialogs_, &TrendDialogs::timeChosen, this, &TrendView::jumpToTime);
    csvExport_ = new TrendCsvExport(this, style_.ring);
    connect(dialogs_, &TrendDialogs::csvExportRequested, this, [this] {
        csvExport_->openChoice(model_.history().databasePath(),
                               TrendCsvExport::pageSpan(model_.buffer(), model_.view()));
    });

    redrawTimer_ = new QTimer(this);
    redrawTimer_->setObjectName(QStringLiteral("Timer2"));
    redrawTimer_->setInterval(1000);
    connect(redrawTimer_, &QTimer::timeout, this, &TrendView::redrawTrend);
    clockTimer_ = new QTimer(this);
    clockTimer_->setObjectName(QStringLiteral("Timer3"));
    clockTimer_->setInterval(1000);
    connect(clockTimer_, &QTimer::timeout, this, [this] {
        if (!model_.nav().rulerOn)
            showClock();
    });

    syncControls();
}

TrendView::~TrendView()
{
    // The printer dialog refers to the dialogs' printer: close every dialog
    // before the children go.
    qDeleteAll(findChildren<QDialog*>(Qt::FindDirectChildrenOnly));
}

void TrendView::buildChartArea()
{
    area_ = new QWidget(this);
    area_->setObjectName(QStringLiteral("trendArea"));
    area_->installEventFilter(this);

    frame_ = new QFrame(area_);
    frame_->setObjectName(QStringLiteral("pt0"));
    frame_->setFrameShape(QFrame::Box);
    frame_->setLineWidth(1);
    auto* frameLayout = new QVBoxLayout(frame_);
    frameLayout->setContentsMargins(0, 0, 0, 0);
    chart_ = new TrendChart(style_, model_, scale_, frame_);
    frameLayout->addWidget(chart_);

    static const char* const opTexts[] = {"0", "20", "40", "60", "80", "100", "120"};
    for (int i = 0; i < TrendGeometry::kValueLabels; ++i) {
        valueLabels_[i] = makeLabel(QStringLiteral("Label5_%1").arg(i), QString(), area_);
        valueLabels_[i]->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        valueLabels_[i]->installEventFilter(this);
        valueLabels_[i]->setToolTip(tr("双击修改Y范围"));
        opLabels_[i] = makeLabel(QStringLiteral("Label6_%1").arg(i), QString::fromLatin1(opTexts[i]), area_);
        opLabels_[i]->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        setTextColour(opLabels_[i], QColor(0, 0, 255));
    }
    for (int j = 0; j < TrendGeometry::kTimeLabels; ++j) {
        timeLabels_[j] = makeLabel(QStringLiteral("Label4_%1").arg(j), QString(), area_);
        dateLabels_[j] = makeLabel(QStringLiteral("Label7_%1").arg(j), QString(), area_);
        timeLabels_[j]->setAlignment(Qt::AlignCenter);
        dateLabels_[j]->setAlignment(Qt::AlignCenter);
    }

    slider_ = new QSlider(Qt::Horizontal, area_);
    slider_->setObjectName(QStringLiteral("hc"));
    slider_->setRange(TrendGeometry::kRulerMin, TrendGeometry::kRulerMax);
    slider_->setValue(0);
    connect(slider_, &QSlider::valueChanged, this, &TrendView::rulerMoved);

    const QFontMetrics fm(font());
    area_->setMinimumSize(fm.horizontalAdvance(QStringLiteral("-00000 120")) + 300, 3 * fm.height() + 200);
}

void TrendView::buildFunctionFrame()
{
    functionFrame_ = new QGroupBox(tr("功能"), this);
    functionFrame_->setObjectName(QStringLiteral("functionFrame"));
    functionLayout_ = new QHBoxLayout(functionFrame_);

    zoomOut_ = makeButton(QStringLiteral("Command4"), tr("F1 缩小"), functionFrame_);
    zoomIn_ = makeButton(QStringLiteral("Command3"), tr("F2 放大"), functionFrame_);
    print_ = makeButton(QStringLiteral("Command2"), tr("F3 打印"), functionFrame_);
    ruler_ = makeButton(QStringLiteral("Command5"), rulerOffCaption(), functionFrame_);
    select_ = makeButton(QStringLiteral("Command6"), tr("F5 选择"), functionFrame_);
    newer_ = makeButton(QStringLiteral("Command7"), tr("F6 左移"), functionFrame_);
    older_ = makeButton(QStringLiteral("Command8"), tr("F7 右移"), functionFrame_);
    for (QPushButton* b : {zoomOut_, zoomIn_, print_, ruler_, select_, newer_, older_})
        functionLayout_->addWidget(b);
    connect(zoomOut_, &QPushButton::clicked, this, &TrendView::zoomOutClicked);
    connect(zoomIn_, &QPushButton::clicked, this, &TrendView::zoomInClicked);
    connect(print_, &QPushButton::clicked, this, &TrendView::printClicked);
    connect(ruler_, &QPushButton::clicked, this, &TrendView::rulerClicked);
    connect(select_, &QPushButton::clicked, this, &TrendView::selectClicked);
    connect(newer_, &QPushButton::clicked, this, &TrendView::newerClicked);
    connect(older_, &QPushButton::clicked, this, &TrendView::olderClicked);

    functionLayout_->addStretch(1);

    // The Y-range editor, hidden until a scale label is double-clicked.
    yEditor_ = new TrendYEditor(functionLayout_, functionFrame_, style_.yMinBoxShown, scale_);
    connect(yEditor_, &TrendYEditor::scaleChanged, this, [this] {
        // The axis follows at once: the display tick that would relabel it
        // is stopped while a page or the ruler is shown.
        updateYAxisLabels();
        redrawTrend();
    });
}

void TrendView::addFunctionButton(QPushButton* button)
{
    if (!button)
        return;
    // Host buttons go after the seven trend commands, before the Y editor.
    const int at = functionLayout_->indexOf(older_) + 1;
    int hostButtons = 0;
    for (int i = at; i < functionLayout_->count(); ++i) {
        if (functionLayout_->itemAt(i)->spacerItem())
            break;
        ++hostButtons;
    }
    functionLayout_->insertWidget(at + hostButtons, button);
}

void TrendView::layoutChartArea()
{
    const QFontMetrics fm(area_->font());
    const int lineHeight = fm.height() + 2;
    const int valueWidth = fm.horizontalAdvance(QStringLiteral("-00000")) + 6;
    const int opWidth = fm.horizontalAdvance(QStringLiteral("120")) + 10;
    const int labelWidth =
        qMax(fm.horizontalAdvance(QStringLiteral("0000-00-00")), fm.horizontalAdvance(QStringLiteral("00:00:00"))) + 8;
    const int sliderHeight = slider_->sizeHint().height();

    const int left = valueWidth + opWidth;
    const int top = lineHeight / 2;
    const int right = labelWidth / 2;
    const int bottom = 2 * lineHeight + sliderHeight + 6;
    const QRect frameRect(left, top, qMax(20, area_->width() - left - right), qMax(20, area_->height() - top - bottom));
    frame_->setGeometry(frameRect);
    const QRect chartRect = frameRect.adjusted(1, 1, -1, -1);

    for (int i = 0; i < TrendGeometry::kValueLabels; ++i) {
        const double chartY = TrendGeometry::kChartHeight - i * (TrendGeometry::kScaleHeight / 6.0);
        const int y = chartRect.top() + qRound(TrendChart::toDevice({0.0, chartY}, chartRect.size()).y());
        valueLabels_[i]->setGeometry(0, y - lineHeight / 2, valueWidth - 4, lineHeight);
        opLabels_[i]->setGeometry(valueWidth, y - lineHeight / 2, opWidth - 6, lineHeight);
    }
    const int labelTop = frameRect.bottom() + 3;
    for (int j = 0; j < TrendGeometry::kTimeLabels; ++j) {
        const double chartX = TrendGeometry::kLabelSpacing * j;
        const int x = chartRect.left() + qRound(TrendChart::toDevice({chartX, 0.0}, chartRect.size()).x());
        timeLabels_[j]->setGeometry(x - labelWidth / 2, labelTop, labelWidth, lineHeight);
        dateLabels_[j]->setGeometry(x - labelWidth / 2, labelTop + lineHeight, labelWidth, lineHeight);
    }
    slider_->setGeometry(chartRect.left(), labelTop + 2 * lineHeight + 2, chartRect.width(), sliderHeight);
}

bool TrendView::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == area_ && (event->type() == QEvent::Resize || event->type() == QEvent::Show))
        layoutChartArea();
    if (event->type() == QEvent::MouseButtonDblClick) {
        for (QLabel* label : valueLabels_) {
            if (watched == label) {
                yEditor_->open();
                return true;
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}

void TrendView::load()
{
    model_.load();
    rulerControlsShown_ = false;
    {
        const QSignalBlocker blocker(slider_);
        slider_->setValue(0);
    }
    slider_->setFocusPolicy(Qt::ClickFocus);
    ruler_->setText(rulerOffCaption());
    setSliderSteps();
    syncControls();
    updateYAxisLabels();
    showPageClock();
    redrawTrend();
    redrawTimer_->start();
    clockTimer_->start();
}

void TrendView::syncControls()
{
    const TrendEnabling& e = model_.enabling();
    zoomIn_->setEnabled(e.zoomIn);
    zoomOut_->setEnabled(e.zoomOut);
    newer_->setEnabled(e.newer);
    older_->setEnabled(e.older);
    slider_->setEnabled(e.slider);
}

void TrendView::setSliderSteps()
{
    // One slider step moves the ruler by one sample.
    const int step = roundHalfEven(model_.view().sampleStep);
    slider_->setSingleStep(step);
    slider_->setPageStep(step);
}

void TrendView::showPageClock()
{
    // After a page load the clock shows the first plotted sample until the
    // clock timer takes over again.
    const int slot = model_.view().firstSlot + TrendGeometry::kSlotAtOrigin;
    clockDate_->setText(OleTime::dateText(model_.buffer().sampleDate[slot]));
    clockTime_->setText(OleTime::timeText(model_.buffer().sampleTime[slot]));
}

void TrendView::showClock()
{
    const OleStamp now = StationClock::nowStamp();
    clockDate_->setText(OleTime::dateText(now.date));
    clockTime_->setText(OleTime::timeText(now.time));
}

void TrendView::redrawTrend()
{
    const auto labels = TrendGeometry::timeAxis(model_.buffer(), model_.view(), style_.extrapolationFactor);
    for (int j = 0; j < TrendGeometry::kTimeLabels; ++j) {
        // A slot that holds no sample (date 0) names no time.
        const bool empty = labels[j].date == 0.0;
        timeLabels_[j]->setText(empty ? QString() : OleTime::timeText(labels[j].time));
        dateLabels_[j]->setText(empty ? QString() : OleTime::dateText(labels[j].date));
    }
    chart_->update();
}

void TrendView::apply(const TrendCommandResult& result)
{
    if (result.pageLoaded) {
        // With the ruler on, the readout follows the new page under the line.
        if (model_.nav().rulerOn)
            showReadout(TrendGeometry::rulerSlot(slider_->value(), model_.view().sampleStep, model_.view().firstSlot));
        else
            showPageClock();
    }
    syncControls();
    if (result.tick == TickRequest::Stop)
        emit displayTickStopRequested();
    else if (result.tick == TickRequest::Restart)
        emit displayTickRestartRequested();
}

void TrendView::appendLiveSample(float pv, float op, float sv)
{
    if (model_.appendLiveSample(pv, op, sv, StationClock::nowStamp()))
        showPageClock();
    redrawTrend();
}

void TrendView::updateYAxisLabels()
{
    const auto values = TrendGeometry::yAxisValues(scale_);
    for (int i = 0; i < TrendGeometry::kValueLabels; ++i)
        valueLabels_[i]->setText(QString::number(values[i]));
}

void TrendView::restoreReadoutColours()
{
    if (model_.nav().rulerOn)
        return;
    setBackgroundColour(clockDate_, StateColour::clock());
    setBackgroundColour(clockTime_, StateColour::clock());
}

bool TrendView::rulerOn() const { return model_.nav().rulerOn; }

bool TrendView::handleKey(int key)
{
    switch (key) {
    case Qt::Key_F2:
        if (model_.view().zoomLevel > 1)
            zoomInClicked();
        return true;
    case Qt::Key_F1:
        if (model_.view().zoomLevel < 4)
            zoomOutClicked();
        return true;
    case Qt::Key_F6:
        if (model_.newerAllowed())
            newerClicked();
        return true;
    case Qt::Key_F7:
        if (!model_.nav().olderBlocked)
            olderClicked();
        return true;
    case Qt::Key_F4: rulerClicked(); return true;
    case Qt::Key_F3:
        if (!style_.printKey)
            return false;
        printClicked();
        return true;
    case Qt::Key_F5: selectClicked(); return true;
    default: return false;
    }
}

void TrendView::zoomInClicked()
{
    if (!model_.zoomIn())
        return;
    setSliderSteps();
    syncControls();
    redrawTrend();
}

void TrendView::zoomOutClicked()
{
    if (!model_.zoomOut())
        return;
    setSliderSteps();
    syncControls();
    redrawTrend();
}

void TrendView::olderClicked()
{
    apply(model_.olderPage());
    redrawTrend();
}

void TrendView::newerClicked()
{
    apply(model_.newerPage());
    redrawTrend();
}

void TrendView::rulerClicked()
{
    const bool on = !model_.nav().rulerOn;
    {
        const QSignalBlocker blocker(slider_);
        slider_->setValue(0);
    }
    const TrendCommandResult result = model_.setRuler(on);
    showRulerControls(on);
    apply(result);
    if (!on)
        restoreReadoutColours();
    emit rulerActiveChanged(on);
    redrawTrend();
}

void TrendView::showRulerControls(bool on)
{
    rulerControlsShown_ = on;
    if (on) {
        // The slider takes the focus but never becomes a tab stop.
        slider_->setFocusPolicy(Qt::ClickFocus);
        syncControls();
        slider_->setFocus();
        ruler_->setText(rulerOnCaption());
    } else {
        slider_->setFocusPolicy(Qt::ClickFocus);
        syncControls();
        ruler_->setFocus();
        ruler_->setText(rulerOffCaption());
    }
}

void TrendView::rulerMoved(int position)
{
    const TrendModel::RulerMove move = model_.moveRuler(position);
    apply(move.command); // after a page turn it shows the readout itself
    if (move.command.pageLoaded) {
        redrawTrend();
    } else {
        showReadout(move.slot);
        chart_->update();
    }
}

void TrendView::showReadout(qint16 slot)
{
    const TrendBuffer& b = model_.buffer();
    // A slot that holds no sample (date 0) names no time, as on the axis.
    const bool empty = b.sampleDate[slot] == 0.0;
    clockDate_->setText(empty ? QString() : OleTime::dateText(b.sampleDate[slot]));
    clockTime_->setText(empty ? QString() : OleTime::timeText(b.sampleTime[slot]));
    setBackgroundColour(clockDate_, StateColour::readout());
    setBackgroundColour(clockTime_, StateColour::readout());
    emit rulerReadout(b.channelValue[TrendBuffer::PV][slot], b.channelValue[TrendBuffer::OP][slot],
                      b.channelValue[TrendBuffer::SV][slot]);
}

QImage TrendView::renderToImage() { return TrendOutput::capture(this); }

void TrendView::printClicked()
{
    if (style_.printKey)
        dialogs_->openPrint(renderToImage());
}

void TrendView::selectClicked() { dialogs_->openSelect(); }

bool TrendView::jumpToTime(const QDateTime& when)
{
    TrendHistory& history = model_.history();
    if (!history.available() || !when.isValid())
        return false;
    const OleStamp stamp = OleTime::fromDateTime(when);
    auto jumped = std::make_shared<bool>(false);
    history.idNearest(style_.ring, stamp.date, stamp.time, [this, when, jumped](std::optional<qint32> id) {
        if (!id) {
            qCDebug(lcTrend) << "no stored sample near" << when;
            return;
        }
        // The sample's page is decided once the newest id is known.
        *jumped = model_.jumpToId(*id, [this](const TrendModel::Jump& jump) { showJump(jump); });
    });
    return history.answersLater() || *jumped;
}

void TrendView::showJump(const TrendModel::Jump& jump)
{
    const bool wasOn = rulerControlsShown_;
    {
        const QSignalBlocker blocker(slider_);
        slider_->setValue(jump.rulerPosition);
    }
    if (!wasOn)
        showRulerControls(true);
    apply(jump.command);
    if (!wasOn)
        emit rulerActiveChanged(true);
    redrawTrend();
}
