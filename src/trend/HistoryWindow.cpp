#include "HistoryWindow.h"
#include "CommonTexts.h"

#include "BackgroundColour.h"
#include "StationClock.h"
#include "HistoryReader.h"
#include "HistoryStore.h"
#include "TrendHistory.h"
#include "LinkHealth.h"
#include "LiveImage.h"
#include "MonitorTables.h"
#include "NumberText.h"
#include "PopupKeys.h"
#include "SampleFlags.h"
#include "StateColours.h"
#include "StationFonts.h"
#include "TrendLog.h"
#include "TrendStyle.h"
#include "TrendView.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QShortcut>
#include <QTimer>
#include <QVBoxLayout>

namespace {

// One value label of the panel: the main window's label of the value, with
// the value's caption (MonitorBlock).
struct ValueRow {
    const char* label; // objectName
    int index;         // LiveImage::Values index
    int divisor;       // the instrument keeps the break output in tenths
    const char* caption;
};

std::vector<ValueRow> rowsOf(MonitorBlock::Block block)
{
    std::vector<ValueRow> out;
    for (const MonitorTables::ValueRow& r : MonitorTables::valueRows())
        if (const char* caption = MonitorBlock::valueAt(r.index)->caption; r.block == block && caption)
            out.push_back({r.label, r.index, int(r.divisor), caption});
    return out;
}

// PV, SV, OP from top to bottom: set value next to measured value, as the
// operator compares them.
const std::vector<ValueRow>& processRows()
{
    static const std::vector<ValueRow> rows = rowsOf(MonitorBlock::Process);
    return rows;
}

const std::vector<ValueRow>& settingRows()
{
    static const std::vector<ValueRow> rows = rowsOf(MonitorBlock::Settings);
    return rows;
}

QString valueText(float value, int divisor)
{
    return divisor == 1 ? singleText(value) : doubleText(double(value) / divisor);
}

// Wide enough for any value a float shows with seven digits; should a text
// still not fit (an exponent form), it is cut on the right, never its
// leading digits.
void setValueText(QLabel* label, const QString& text)
{
    label->setText(text);
    const bool fits =
        label->fontMetrics().horizontalAdvance(text) <= label->contentsRect().width() - 2 * label->margin();
    label->setAlignment((fits ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter);
}

QLabel* valueLabel(const ValueRow& row, int pointSize, bool bold, const QColor& background, QWidget* parent)
{
    auto* label = new QLabel(QStringLiteral("0"), parent);
    label->setObjectName(QString::fromLatin1(row.label));
    label->setFrameShape(QFrame::Panel);
    label->setFrameShadow(QFrame::Sunken);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    label->setMargin(bold ? 4 : 2);
    label->setFont(digitFont(pointSize, bold));
    const QFontMetrics metrics(label->font());
    label->setMinimumWidth(metrics.horizontalAdvance(QStringLiteral("-0.1234567")) + 2 * label->margin() + 8);
    setBackgroundColour(label, background);
    return label;
}

QLabel* caption(const ValueRow& row, QLabel* buddy, QWidget* parent)
{
    auto* label = new QLabel(MonitorTables::shown(row.caption), parent);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    label->setBuddy(buddy);
    return label;
}

QColor normalText() { return QColor(Qt::black); }
QColor staleText() { return QColor(0x70, 0x70, 0x70); }

} // namespace

HistoryWindow::HistoryWindow(const LiveImage& image, SampleFlags& flags, TrendScale& scale, const QString& databasePath,
                             QWidget* parent)
    : QWidget(parent, Qt::Window), image_(image), flags_(flags), scale_(scale)
{
    setObjectName(QStringLiteral("lsqx"));
    setWindowTitle(tr("过程控制仪表"));

    // Load: announce the trend link, then the window's own connection.
    flags_.trendLinkEnabled = true;
    QString error = QStringLiteral("no database path");
    bool opened = false;
    if (HistoryReader::wanted(databasePath)) {
        reader_ = std::make_unique<HistoryReader>(QStringLiteral("lsqx"));
        reader_->open(databasePath);
        trend_ = new TrendView(TrendStyle::history(), TrendHistory::through(reader_.get()), scale_, this);
    } else {
        store_ = std::make_unique<HistoryStore>(QStringLiteral("lsqx"));
        opened = !databasePath.isEmpty() && store_->open(databasePath, &error);
        if (!opened)
            qCWarning(lcTrend) << "history window: history database unavailable:" << error;
        // Without a connection the curves lie flat at 0; the live values and
        // the appended samples still show.
        trend_ = new TrendView(TrendStyle::history(), opened ? store_.get() : nullptr, scale_, this);
    }
    returnButton_ = new QPushButton(CommonText::back(), this);
    returnButton_->setObjectName(QStringLiteral("Command1"));
    returnButton_->setAutoDefault(false);
    trend_->addFunctionButton(returnButton_);
    connect(returnButton_, &QPushButton::clicked, this, &HistoryWindow::returnToMain);

    auto* columns = new QHBoxLayout(this);
    columns->setContentsMargins(4, 4, 6, 4);
    columns->setSpacing(6);
    columns->addWidget(trend_, 1);
    columns->addWidget(buildSidePanel());
    if (reader_) {
        // Shown while the server cannot be reached, gone when it can.
        connect(reader_.get(), &HistoryReader::openChanged, this, [this](bool open, const QString& why) {
            databaseNote_->setToolTip(why);
            databaseNote_->setVisible(!open && loaded_);
        });
    } else {
        if (!opened) {
            databaseNote_->setToolTip(error);
            databaseNote_->show();
        }
        // A store that opened and then fails a read tells it the same way.
        connect(trend_, &TrendView::historyReadable, this, [this](bool readable) {
            if (!store_->isOpen())
                return;
            databaseNote_->setToolTip(readable ? QString() : store_->lastError());
            databaseNote_->setVisible(!readable);
        });
    }

    tick_ = new QTimer(this);
    tick_->setObjectName(QStringLiteral("Timer1"));
    tick_->setInterval(kDisplayTickMs);
    connect(tick_, &QTimer::timeout, this, &HistoryWindow::tick);
    // Paging and the ruler freeze the display; they restart it on return to
    // the live view.
    connect(trend_, &TrendView::displayTickStopRequested, tick_, &QTimer::stop);
    connect(trend_, &TrendView::displayTickRestartRequested, this, [this] {
        if (loaded_)
            tick_->start();
    });
    connect(trend_, &TrendView::rulerReadout, this, &HistoryWindow::showRulerReadout);
    // Back from the ruler the live values return at once, not a tick later.
    connect(trend_, &TrendView::rulerActiveChanged, this, [this](bool on) {
        if (on)
            return;
        restoreValueColours();
        showValues();
    });
    installKeys();

    closeRefused_ = true;
    // The page just loaded holds every sample stored so far, including one
    // announced while the main window was up and never taken: appending it
    // again would draw it twice.
    flags_.newLongSample = false;
    trend_->load();
    loaded_ = true;
    showValues();
    tick_->start();
    resize(1280, 800);
}

HistoryWindow::~HistoryWindow()
{
    // Deleted without "返回" (the station ending): still let go of the link.
    if (loaded_)
        unload();
    // The view reads from the store: let it go before the store does.
    delete trend_;
    trend_ = nullptr;
}

QWidget* HistoryWindow::buildSidePanel()
{
    const TrendStyle& style = TrendStyle::history();
    auto* side = new QWidget(this);
    side->setObjectName(QStringLiteral("valuePanel"));
    auto* column = new QVBoxLayout(side);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(6);

    auto* process = new QGroupBox(tr("过程值"), side);
    process->setObjectName(QStringLiteral("ValuePanel"));
    auto* processGrid = new QGridLayout(process);
    processGrid->setContentsMargins(8, 4, 8, 6);
    processGrid->setHorizontalSpacing(6);
    processGrid->setVerticalSpacing(4);
    // Captions in their curve's colour tie the numbers to the chart.
    const QColor curveColour[3] = {style.pv, style.op, style.sv};
    int row = 0;
    for (const ValueRow& r : processRows()) {
        QLabel* value = valueLabel(r, 18, true, StateColour::value(), process);
        processValues_[std::size_t(r.index)] = value;
        QLabel* name = caption(r, value, process);
        QFont font = name->font();
        font.setPointSize(font.pointSize() + 2);
        font.setBold(true);
        name->setFont(font);
        setTextColour(name, curveColour[r.index]);
        processGrid->addWidget(name, row, 0);
        processGrid->addWidget(value, row, 1);
        ++row;
    }
    processGrid->setColumnStretch(1, 1);
    column->addWidget(process);

    auto* alarms = new QGroupBox(tr("报警设定"), side);
    alarms->setObjectName(QStringLiteral("AlarmFrame"));
    auto* alarmGrid = new QGridLayout(alarms);
    alarmGrid->setContentsMargins(8, 4, 8, 6);
    alarmGrid->setHorizontalSpacing(6);
    alarmGrid->setVerticalSpacing(4);
    row = 0;
    for (const ValueRow& r : settingRows()) {
        QLabel* value = valueLabel(r, 11, false, StateColour::white(), alarms);
        settings_[std::size_t(row)] = value;
        alarmGrid->addWidget(caption(r, value, alarms), row, 0);
        alarmGrid->addWidget(value, row, 1);
        ++row;
    }
    alarmGrid->setColumnStretch(1, 1);
    column->addWidget(alarms);

    databaseNote_ = new QLabel(tr("历史数据库无法打开"), side);
    databaseNote_->setObjectName(QStringLiteral("databaseNote"));
    databaseNote_->setWordWrap(true);
    setTextColour(databaseNote_, QColor(192, 0, 0));
    databaseNote_->hide();
    column->addWidget(databaseNote_);
    column->addStretch(1);

    side->setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Preferred);
    return side;
}

void HistoryWindow::installKeys()
{
    // The function keys work wherever the focus is in the window.
    PopupKeys::routeEscapeToPopups();
    for (const int key :
         {Qt::Key_F1, Qt::Key_F2, Qt::Key_F3, Qt::Key_F4, Qt::Key_F5, Qt::Key_F6, Qt::Key_F7, Qt::Key_Escape}) {
        auto* shortcut = new QShortcut(QKeySequence(key), this);
        shortcut->setObjectName(key == Qt::Key_Escape ? QStringLiteral("key_Esc")
                                                      : QStringLiteral("key_F%1").arg(key - Qt::Key_F1 + 1));
        connect(shortcut, &QShortcut::activated, this, [this, key] { handleKey(key); });
    }
}

bool HistoryWindow::handleKey(int key)
{
    if (key == Qt::Key_Escape) {
        if (!PopupKeys::closeOpenPopup())
            returnToMain();
        return true;
    }
    return trend_->handleKey(key);
}

bool HistoryWindow::databaseOpen() const { return reader_ ? reader_->isOpen() : store_ && store_->isOpen(); }

void HistoryWindow::setLinkHealth(const LinkHealth* health)
{
    health_ = health;
    showFreshness();
}

void HistoryWindow::tick()
{
    stale_ = health_
             && (health_->state() == LinkHealth::State::NoAnswer || health_->state() == LinkHealth::State::CannotOpen);

    // The ruler's readout owns the clock and PV/OP/SV colours while it is on.
    if (!trend_->rulerOn()) {
        trend_->restoreReadoutColours();
        restoreValueColours();
    }
    trend_->updateYAxisLabels();

    if (flags_.newLongSample) {
        // The live value at this moment; the next page load replaces it with
        // the stored row.
        trend_->appendLiveSample(image_.Values[0], image_.Values[1], image_.Values[2]);
        flags_.newLongSample = false;
    }

    showValues();
    showFreshness();
}

void HistoryWindow::restoreValueColours()
{
    for (QLabel* label : processValues_)
        setBackgroundColour(label, stale_ ? StateColour::stale() : StateColour::value());
}

void HistoryWindow::showValues()
{
    for (const ValueRow& r : processRows())
        setValueText(processValues_[std::size_t(r.index)], valueText(image_.Values[std::size_t(r.index)], r.divisor));
    std::size_t k = 0;
    for (const ValueRow& r : settingRows())
        setValueText(settings_[k++], valueText(image_.Values[std::size_t(r.index)], r.divisor));
}

void HistoryWindow::showFreshness()
{
    QString tip;
    if (stale_ && health_) {
        tip = tr("%1：显示的是最后读到的值").arg(LinkHealth::stateText(health_->state()));
        const QDateTime last = health_->lastGoodCycle();
        if (last.isValid())
            tip += tr("\n最后读到：%1").arg(TimeText::text(last));
    }
    const QColor text = stale_ ? staleText() : normalText();
    for (QLabel* label : processValues_) {
        setTextColour(label, text);
        label->setToolTip(tip);
    }
    for (QLabel* label : settings_) {
        setTextColour(label, text);
        setBackgroundColour(label, stale_ ? StateColour::stale() : StateColour::white());
        label->setToolTip(tip);
    }
}

void HistoryWindow::showRulerReadout(float pv, float op, float sv)
{
    const float readout[3] = {pv, op, sv};
    for (int k = 0; k < 3; ++k) {
        setValueText(processValues_[std::size_t(k)], singleText(readout[k]));
        setBackgroundColour(processValues_[std::size_t(k)], StateColour::readout());
        setTextColour(processValues_[std::size_t(k)], normalText());
    }
}

void HistoryWindow::returnToMain()
{
    if (!loaded_)
        return;
    closeRefused_ = false;
    unload();
    close();
    Q_EMIT returnRequested();
}

void HistoryWindow::unload()
{
    if (store_)
        store_->close();
    if (reader_)
        reader_->close();
    flags_.trendLinkEnabled = false;
    tick_->stop();
    loaded_ = false;
}

void HistoryWindow::closeEvent(QCloseEvent* event)
{
    // The close box never closes the window, and a refused close changes
    // nothing: the connection stays open and the samples keep coming. Only
    // "返回" lets the window go.
    if (closeRefused_) {
        event->ignore();
        return;
    }
    event->accept();
}
