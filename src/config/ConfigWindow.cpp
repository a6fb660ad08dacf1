#include "ConfigWindow.h"
#include "WriteAudit.h"
#include "WriteLabels.h"
#include "ConfigLog.h"
#include "ParamSetBar.h"

#include "BackgroundColour.h"
#include "LinkClient.h"
#include "PopupKeys.h"
#include "RefusedEntry.h"
#include "StateColours.h"

#include <QButtonGroup>
#include <QCloseEvent>
#include <QAbstractItemView>
#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

using namespace ParamTable;

namespace {

constexpr int kBlockSize = 8;
constexpr int kBlocks = 5; // 4097..4136: the 39 parameters plus one spare register
constexpr char kIndexProperty[] = "paramIndex";

// Widest text a value label may have to show, so that labels keep their
// width from the first refresh on instead of jumping as values arrive.
QString widestValueText(const ParamDef& def, const QFontMetrics& metrics)
{
    QString widest = QStringLiteral("-00000.0");
    for (std::u16string_view t : def.displayTexts) {
        const QString candidate = shown(t);
        if (metrics.horizontalAdvance(candidate) > metrics.horizontalAdvance(widest))
            widest = candidate;
    }
    return widest;
}

} // namespace

ConfigWindow::ConfigWindow(LinkClient& link, ParamRegs& regs, QWidget* parent)
    : QWidget(parent), link_(link), regs_(regs)
{
    setObjectName(QStringLiteral("CONFIG1"));
    setWindowFlag(Qt::Window); // a window of its own even when given a parent
    setWindowTitle(tr("参数设置"));
    buildUi();
    fillChoiceLists();
    hideEditors();

    refreshTimer_ = new QTimer(this);
    refreshTimer_->setObjectName(QStringLiteral("Timer1"));
    refreshTimer_->setInterval(kRefreshIntervalMs);
    connect(refreshTimer_, &QTimer::timeout, this, &ConfigWindow::refreshNow);
    refreshTimer_->start();
}

ConfigWindow::~ConfigWindow() = default;

// ---- Construction -------------------------------------------------------------

void ConfigWindow::buildUi()
{
    tabs_ = new QTabWidget(this);
    tabs_->setObjectName(QStringLiteral("SSTab1"));
    for (const PageLayout& layout : pageLayouts())
        tabs_->addTab(buildPage(layout), pageCaption(layout.page));
    tabs_->setCurrentIndex(tabs_->count() - 1); // opens on "PID"

    returnButton_ = new QPushButton(tr(" Esc 返回"), this);
    returnButton_->setObjectName(QStringLiteral("Command11"));
    returnButton_->setAutoDefault(false);
    connect(returnButton_, &QPushButton::clicked, this, &ConfigWindow::returnRequested);
    PopupKeys::escapeClicks(this, returnButton_);

    auto* bottom = new QHBoxLayout;
    paramSetBar_ = new ParamSetBar(link_, this);
    bottom->addWidget(paramSetBar_); // below the tabs: no row moves
    bottom->addWidget(RefusedEntry::makeLine(this), 1);
    bottom->addStretch(1);
    bottom->addWidget(returnButton_);

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(8, 8, 8, 8);
    outer->setSpacing(8);
    outer->addWidget(tabs_, 1);
    outer->addLayout(bottom);
    resize(900, 600);
}

QWidget* ConfigWindow::buildPage(const PageLayout& layout)
{
    // One grid per page so that rows of the two columns line up; each column
    // is caption, value, editor, button.
    auto* page = new QWidget;
    auto* grid = new QGridLayout(page);
    grid->setContentsMargins(12, 14, 12, 14);
    grid->setHorizontalSpacing(8);
    grid->setVerticalSpacing(10);
    constexpr int kFields = 4;          // grid columns per parameter column
    constexpr int kGapColumn = kFields; // empty column between left and right
    constexpr int kRightColumn = kFields + 1;
    int gridRow = 0;
    for (int index : layout.left)
        buildRow(grid, gridRow++, 0, index);
    gridRow = 0;
    for (int index : layout.right)
        buildRow(grid, gridRow++, kRightColumn, index);
    grid->setColumnMinimumWidth(kGapColumn, 16);
    grid->setColumnStretch(kRightColumn + kFields, 1); // spare width goes to the right edge
    const int rows = int(std::max(layout.left.size(), layout.right.size()));
    grid->setRowStretch(rows, 1);
    if (layout.page == Page::Pid) {
        // Below the parameter rows, which keep their places.
        auto* tuning = new QPushButton(tr("PID整定助手"), page);
        tuning->setObjectName(QStringLiteral("TuningButton"));
        tuning->setAutoDefault(false);
        connect(tuning, &QPushButton::clicked, this, &ConfigWindow::tuningRequested);
        grid->addWidget(tuning, rows + 1, 0, 1, kFields);
    }
    return page;
}

void ConfigWindow::buildRow(QGridLayout* grid, int gridRow, int firstColumn, int index)
{
    const ParamDef& def = param(index);
    Row& row = rows_[std::size_t(index)];
    const QString suffix = QString::number(index);

    auto* caption = new QLabel(shown(def.caption));
    caption->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);

    row.value = new QLabel(QStringLiteral("Label2"));
    row.value->setObjectName(QStringLiteral("D_4WRW_") + suffix);
    row.value->setFrameStyle(QFrame::Box | QFrame::Plain);
    row.value->setLineWidth(1);
    row.value->setMargin(2);
    row.value->setIndent(4);
    row.value->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    setBackgroundColour(row.value, StateColour::white());
    // Text plus indent, margins and frame, with a little air.
    const QFontMetrics metrics = row.value->fontMetrics();
    row.value->setMinimumWidth(metrics.horizontalAdvance(widestValueText(def, metrics)) + 24);
    row.value->setToolTip(tr("双击修改"));
    row.value->setProperty(kIndexProperty, index);
    row.value->installEventFilter(this);

    row.editor = buildEditor(def, row);
    row.editor->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);

    row.modify = new QPushButton(tr("修改"));
    row.modify->setObjectName(QStringLiteral("Command3_") + suffix);
    row.modify->setAutoDefault(false);
    row.modify->setFixedWidth(row.modify->fontMetrics().horizontalAdvance(row.modify->text()) + 24);
    connect(row.modify, &QPushButton::clicked, this, [this, index] { modify(index); });

    // Hidden editors keep their room, so opening a row never shifts the grid.
    for (QWidget* w : {row.editor, static_cast<QWidget*>(row.modify)}) {
        QSizePolicy policy = w->sizePolicy();
        policy.setRetainSizeWhenHidden(true);
        w->setSizePolicy(policy);
    }

    grid->addWidget(caption, gridRow, firstColumn);
    grid->addWidget(row.value, gridRow, firstColumn + 1);
    grid->addWidget(row.editor, gridRow, firstColumn + 2);
    grid->addWidget(row.modify, gridRow, firstColumn + 3);
}

QWidget* ConfigWindow::buildEditor(const ParamDef& def, Row& row)
{
    switch (def.editor) {
    case Editor::Choice: {
        row.combo = new QComboBox;
        row.combo->setObjectName(text(def.editorName));
        row.combo->setEditable(false); // pick-only: every entry starts with its code
        // The closed list shows about nine characters; its popup is widened
        // to the longest entry when the list is filled.
        row.combo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
        row.combo->setMinimumContentsLength(9);
        return row.combo;
    }
    case Editor::NumberBox: {
        row.box = new QLineEdit;
        row.box->setObjectName(text(def.editorName));
        row.box->setMinimumWidth(row.box->fontMetrics().horizontalAdvance(QStringLiteral("-00000.00")) + 16);
        return row.box;
    }
    case Editor::Options: {
        auto* frame = new QFrame;
        frame->setObjectName(text(def.frameName));
        auto* layout = new QHBoxLayout(frame);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(12);
        auto* group = new QButtonGroup(frame);
        for (int k = 0; k < 2; ++k) {
            auto* option = new QRadioButton(shown(def.options[std::size_t(k)]));
            option->setObjectName(text(def.editorName) + u'_' + QString::number(k));
            group->addButton(option, k);
            layout->addWidget(option);
            row.options[std::size_t(k)] = option;
        }
        layout->addStretch(1);
        return frame;
    }
    }
    return new QWidget;
}

void ConfigWindow::fillChoiceLists()
{
    for (int index : choiceFillOrder()) {
        QComboBox* combo = rows_[std::size_t(index)].combo;
        for (std::u16string_view entry : param(index).entries)
            combo->addItem(shown(entry));
        combo->setCurrentIndex(0);
        combo->view()->setMinimumWidth(combo->view()->sizeHintForColumn(0) + 24);
    }
    for (const Row& row : rows_)
        if (row.options[0])
            row.options[0]->setChecked(true);
}

// ---- Refresh ------------------------------------------------------------------

bool ConfigWindow::refreshNow()
{
    QVector<ReadRequest> requests;
    for (int block = 0; block < kBlocks; ++block)
        requests.append(ReadRequest{ReadFn::Get_4X_D8, kFirstRegister + block * kBlockSize});
    const bool queued =
        link_.readBatch(this, requests, [this](const QVector<ReadResult>& results) { applyReads(results); });
    if (!queued) {
        ++skippedRefreshes_;
        qCDebug(lcConfig) << "refresh skipped: previous reads still out," << skippedRefreshes_ << "skipped so far";
    }
    return queued;
}

void ConfigWindow::applyReads(const QVector<ReadResult>& results)
{
    for (const ReadResult& result : results) {
        const int first = result.request.first - kFirstRegister;
        const bool ok = result.ok();
        for (int k = first; k < first + kBlockSize && k >= 0 && k < ParamRegs::kSize; ++k) {
            // A failed block keeps what the register image held before, and
            // its labels say that the instrument did not confirm them.
            if (ok)
                regs_[k] = result.data.value(k - first);
            if (k < kCount)
                setBackgroundColour(rows_[std::size_t(k)].value, ok ? StateColour::white() : StateColour::stale());
        }
    }
    updateLabels();
}

void ConfigWindow::updateLabels()
{
    for (int i = 0; i < kCount; ++i) {
        QLabel* label = rows_[std::size_t(i)].value;
        if (const std::optional<QString> shown = displayText(i, regs_[i]))
            label->setText(*shown);
    }
}

// ---- Editing ------------------------------------------------------------------

bool ConfigWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseButtonDblClick) {
        const QVariant index = watched->property(kIndexProperty);
        if (index.isValid()) {
            openRow(index.toInt());
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void ConfigWindow::openRow(int index)
{
    Row& row = rows_[std::size_t(index)];
    row.editor->show();
    row.modify->show();
    row.editor->setFocus(Qt::OtherFocusReason);
}

void ConfigWindow::setAudit(WriteAudit* audit)
{
    audit_ = audit;
    paramSetBar_->setAudit(audit);
}

void ConfigWindow::hideEditors()
{
    for (Row& row : rows_) {
        row.editor->hide();
        row.modify->hide();
    }
}

void ConfigWindow::modify(int index)
{
    const Row& row = rows_[std::size_t(index)];
    std::optional<qint32> value;
    QString refusal;
    switch (param(index).editor) {
    case Editor::Choice: value = valueToWrite(index, ChoiceEntry{row.combo->currentIndex()}); break;
    case Editor::Options: value = valueToWrite(index, OptionChoice{row.options[1]->isChecked() ? 1 : 0}); break;
    case Editor::NumberBox: {
        const EntryRule::Verdict verdict = entryVerdict(index, QStringView(row.box->text()));
        value = verdict.value;
        refusal = verdict.refusal;
        if (value)
            RefusedEntry::clear(row.box);
        else
            RefusedEntry::mark(row.box, verdict.refusal);
        break;
    }
    }
    if (!value) {
        // The row stays open so the operator can correct the entry.
        qCDebug(lcConfig) << "entry for parameter" << index << "refused";
        const ParamDef& p = param(index);
        auditRefusal(audit_, WriteRequest{WriteFn::Set_4X_D1, kFirstRegister + index, 0},
                     WriteLabels::forParameter(index), p.editor == Editor::NumberBox ? row.box->text() : QString(),
                     p.editor == Editor::NumberBox ? refusal : QStringLiteral("选项无效"));
        return;
    }
    writeRegister(kFirstRegister + index, *value, WriteLabels::forParameter(index));
    if (const std::optional<LinkedWrite> linked = linkedWrite(index, *value))
        writeRegister(linked->address, linked->value, WriteLabels::forParameter(linked->address - kFirstRegister));
    hideEditors();
}

void ConfigWindow::writeRegister(int address, qint32 value, const WriteLabel& label)
{
    // The link repeats a write that answers -8888 once; anything else that
    // goes wrong shows as the old value coming back on the next refresh.
    auditedWrite(
        audit_, link_, this, WriteRequest{WriteFn::Set_4X_D1, address, value}, label, [](const WriteResult& result) {
            if (result.outcome != LinkOutcome::Answered)
                qCWarning(lcConfig) << "write of" << result.request.value << "to register" << result.request.address
                                    << "failed:" << outcomeName(result.outcome) << "after" << result.calls << "call(s)";
        });
}

// ---- Leaving ------------------------------------------------------------------

void ConfigWindow::closeEvent(QCloseEvent* event)
{
    // The close box means the same as "返回": the opener takes the window
    // down and brings the main window back, so the station is never left
    // without a visible window.
    event->ignore();
    Q_EMIT returnRequested();
}
