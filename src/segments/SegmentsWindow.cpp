#include "SegmentsWindow.h"
#include "CommonTexts.h"
#include "WriteAudit.h"
#include "SegmentsLog.h"

#include "BackgroundColour.h"
#include "LinkClient.h"
#include "NumericPrefix.h"
#include "RefusedEntry.h"
#include "Rounding.h"
#include "StateColours.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QFocusEvent>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

Q_LOGGING_CATEGORY(lcSegments, "px.segments")

using namespace SegmentMap;

namespace {

// Room for the widest value the instrument can hold in a field ("-1999.9").
int fieldWidth(const QWidget* widget)
{
    return widget->fontMetrics().horizontalAdvance(QStringLiteral("-19999.9")) + 16;
}

QLabel* headerLabel(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setAlignment(Qt::AlignCenter);
    QFont font = label->font();
    font.setBold(true);
    label->setFont(font);
    return label;
}

QLabel* rowLabel(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return label;
}

// The five 16-register reads of one refresh, as link requests.
QVector<ReadRequest> refreshRequests()
{
    QVector<ReadRequest> requests;
    for (const BlockRead& read : kRefreshReads)
        requests.push_back(ReadRequest{ReadFn::Get_4X_D16, read.firstRegister});
    return requests;
}

// A focus change that hands the focus back when it is over (a context menu,
// a switch to another application) does not end an edit.
bool endsEdit(const QFocusEvent* event)
{
    return event->reason() != Qt::PopupFocusReason && event->reason() != Qt::ActiveWindowFocusReason;
}

} // namespace

SegmentsWindow::SegmentsWindow(LinkClient& link, QWidget* parent) : QWidget(parent), link_(link)
{
    setObjectName(QStringLiteral("PID1"));
    setWindowTitle(tr("分段输出和分组PID"));

    tabs_ = new QTabWidget(this);
    tabs_->setObjectName(QStringLiteral("TabControl1"));
    tabs_->addTab(buildSegmentsTab(), tr("分组输出"));
    tabs_->addTab(buildPidTab(), tr("分组PID"));

    auto* note = new QLabel(tr("修改数据后，失去焦点，数据就修改"), this);
    note->setObjectName(QStringLiteral("Note"));

    returnButton_ = new QPushButton(CommonText::back(), this);
    returnButton_->setObjectName(QStringLiteral("Command2"));
    returnButton_->setMinimumWidth(96);
    connect(returnButton_, &QPushButton::clicked, this, &SegmentsWindow::requestReturn);

    auto* bottom = new QHBoxLayout;
    bottom->addWidget(note, 1);
    bottom->addWidget(RefusedEntry::makeLine(this), 1);
    bottom->addWidget(returnButton_);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tabs_, 1);
    layout->addLayout(bottom);

    for (Entry& entry : entries_)
        entry.box->installEventFilter(this);

    refreshTimer_ = new QTimer(this);
    refreshTimer_->setObjectName(QStringLiteral("Timer1"));
    refreshTimer_->setInterval(kRefreshIntervalMs);
    connect(refreshTimer_, &QTimer::timeout, this, &SegmentsWindow::refreshNow);
    refreshTimer_->start();

    applyFieldWidths();

    // The tab control's loss of focus writes nothing, so no box is written
    // just because the operator clicks somewhere after opening the window.
    tabs_->setFocus(Qt::OtherFocusReason);
    resize(sizeHint().expandedTo(QSize(900, 600)));
}

SegmentsWindow::~SegmentsWindow()
{
    for (Entry& entry : entries_)
        entry.box->removeEventFilter(this);
}

QWidget* SegmentsWindow::buildSegmentsTab()
{
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("SegmentsPage"));

    // Grouping switch. The combo starts at "off" whatever the instrument
    // holds; D_4WRW(0) shows the instrument's state.
    auto* caption = new QLabel(tr("分组输出允许"), page);
    switchLabel_ = addValueLabel(Field{Block::Segment, 0, kSwitchRegister, false}, page);
    switchLabel_->setAlignment(Qt::AlignCenter);
    switchChoice_ = new QComboBox(page);
    switchChoice_->setObjectName(QStringLiteral("Combo1"));
    switchChoice_->addItems({tr("0:关闭分组 "), tr("1:打开分组 ")});
    switchChoice_->setCurrentIndex(0);
    switchButton_ = new QPushButton(tr("修改"), page);
    switchButton_->setObjectName(QStringLiteral("Command1"));
    connect(switchButton_, &QPushButton::clicked, this, &SegmentsWindow::writeSwitch);

    auto* switchRow = new QHBoxLayout;
    switchRow->addWidget(caption);
    switchRow->addSpacing(8);
    switchRow->addWidget(switchLabel_);
    switchRow->addSpacing(16);
    switchRow->addWidget(switchChoice_);
    switchRow->addWidget(switchButton_);
    switchRow->addStretch(1);

    // Register 4609 as a number: part of the table, never shown.
    QLineEdit* hidden = addEntry(Field{Block::Segment, 0, kSwitchRegister, false}, page);
    hidden->hide();

    auto* rule = new QFrame(page);
    rule->setFrameShape(QFrame::HLine);
    rule->setFrameShadow(QFrame::Sunken);

    // Each field takes a value label and its box; a narrow spacer column
    // separates the fields.
    auto* gridRow = buildFieldGrid(page, std::span<const Column>(kSegmentColumns), kSegmentRows, segmentField, 5, 18);

    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(16, 14, 16, 14);
    layout->addLayout(switchRow);
    layout->addSpacing(4);
    layout->addWidget(rule);
    layout->addSpacing(4);
    layout->addLayout(gridRow);
    layout->addStretch(1);
    return page;
}

// One grid of fields: a header per column, a caption per row, and for each
// field its value label followed by its entry box; a spacer column between
// fields.
QHBoxLayout* SegmentsWindow::buildFieldGrid(QWidget* page, std::span<const Column> columns, int rows,
                                            Field (*fieldAt)(int row, int column), int rowSpacing, int gap)
{
    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(6);
    grid->setVerticalSpacing(rowSpacing);
    for (std::size_t c = 0; c < columns.size(); ++c) {
        const int col = 1 + 3 * int(c);
        grid->addWidget(headerLabel(QCoreApplication::translate("SegmentMap", columns[c].caption), page), 0, col, 1, 2);
        grid->setColumnMinimumWidth(col + 2, gap);
    }
    for (int row = 1; row <= rows; ++row) {
        grid->addWidget(rowLabel(groupCaption(row), page), row, 0);
        for (int c = 0; c < int(columns.size()); ++c) {
            const Field field = fieldAt(row, c);
            grid->addWidget(addValueLabel(field, page), row, 1 + 3 * c);
            grid->addWidget(addEntry(field, page), row, 2 + 3 * c);
        }
    }
    auto* gridRow = new QHBoxLayout;
    gridRow->addLayout(grid);
    gridRow->addStretch(1);
    return gridRow;
}

QWidget* SegmentsWindow::buildPidTab()
{
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("PidPage"));

    auto* gridRow = buildFieldGrid(page, std::span<const Column>(kPidColumns), kPidGroups, pidField, 8, 24);

    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(16, 14, 16, 14);
    layout->addLayout(gridRow);
    layout->addStretch(1);
    return page;
}

QLabel* SegmentsWindow::addValueLabel(const Field& field, QWidget* page)
{
    auto* label = new QLabel(page);
    label->setObjectName(labelName(field));
    label->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    label->setMargin(2);
    label->setIndent(4);
    setBackgroundColour(label, StateColour::white());
    labels_.push_back(ValueLabel{label, field});
    return label;
}

QLineEdit* SegmentsWindow::addEntry(const Field& field, QWidget* page)
{
    auto* box = new QLineEdit(page);
    box->setObjectName(entryName(field));
    box->setAlignment(Qt::AlignRight);
    setBackgroundColour(box, StateColour::quiet());
    entries_.push_back(Entry{box, field, QString()});
    return box;
}

void SegmentsWindow::applyFieldWidths()
{
    // Labels as tall as the boxes beside them, so that the rows line up.
    const int height = entries_.isEmpty() ? 0 : entries_.front().box->sizeHint().height();
    for (const ValueLabel& shown : labels_) {
        shown.label->setMinimumWidth(fieldWidth(shown.label));
        shown.label->setMinimumHeight(height);
    }
    for (const Entry& entry : entries_) {
        entry.box->setMinimumWidth(fieldWidth(entry.box));
        entry.box->setMaximumWidth(fieldWidth(entry.box) + 24);
    }
}

void SegmentsWindow::changeEvent(QEvent* event)
{
    // The children have the new font by now; widths follow it.
    if (event->type() == QEvent::FontChange)
        applyFieldWidths();
    QWidget::changeEvent(event);
}

bool SegmentsWindow::eventFilter(QObject* watched, QEvent* event)
{
    const QEvent::Type type = event->type();
    if ((type == QEvent::FocusIn || type == QEvent::FocusOut) && endsEdit(static_cast<QFocusEvent*>(event))) {
        for (Entry& entry : entries_) {
            if (entry.box != watched)
                continue;
            if (type == QEvent::FocusIn)
                entry.textAtFocus = entry.box->text();
            else
                commitEntry(entry);
            break;
        }
    }
    return QWidget::eventFilter(watched, event);
}

// Writes the box's value if the operator changed its text since it gained
// focus; an untouched box (even an empty one) never writes. The box keeps its
// text; the value label shows the instrument's answer at the next refresh.
void SegmentsWindow::commitEntry(Entry& entry)
{
    const QString text = entry.box->text();
    if (text == entry.textAtFocus)
        return;
    entry.textAtFocus = text;
    const EntryRule::Verdict verdict = entryVerdict(text, entry.field.scaled);
    const WriteLabel label{{},
                           entry.field.block == Block::Segment ? QStringLiteral("分段参数")
                                                               : QStringLiteral("PID组参数"),
                           entry.field.scaled ? 10 : 1};
    if (!verdict.accepted()) {
        qCDebug(lcSegments) << "entry" << text << "in" << entry.box->objectName() << "refused";
        RefusedEntry::mark(entry.box, verdict.refusal);
        auditRefusal(audit_, WriteRequest{WriteFn::Set_4X_D1, entry.field.holdingRegister, 0}, label, text,
                     verdict.refusal);
        return;
    }
    RefusedEntry::clear(entry.box);
    writeRegister(entry.field.holdingRegister, *verdict.value, label);
}

void SegmentsWindow::writeRegister(int holdingRegister, qint32 value, const WriteLabel& label)
{
    auditedWrite(audit_, link_, this, WriteRequest{WriteFn::Set_4X_D1, holdingRegister, value}, label,
                 [holdingRegister, value](const WriteResult& result) {
                     if (result.outcome != LinkOutcome::Answered)
                         qCWarning(lcSegments) << "writing" << value << "to register" << holdingRegister
                                               << "failed:" << outcomeName(result.outcome);
                 });
}

void SegmentsWindow::writeSwitch()
{
    const std::optional<qint32> value = roundHalfEven32(numericPrefix(switchChoice_->currentText()));
    if (value)
        writeRegister(kSwitchRegister, *value, WriteLabel{{}, QStringLiteral("分组开关"), 1});
}

bool SegmentsWindow::refreshNow()
{
    const bool queued =
        link_.readBatch(this, refreshRequests(), [this](const QVector<ReadResult>& results) { takeRefresh(results); });
    if (!queued) {
        ++skippedRefreshes_;
        qCDebug(lcSegments) << "refresh skipped: the previous one is still pending;" << skippedRefreshes_
                            << "skipped so far";
    }
    return queued;
}

void SegmentsWindow::takeRefresh(const QVector<ReadResult>& results)
{
    for (int k = 0; k < int(kRefreshReads.size()) && k < results.size(); ++k) {
        const ReadResult& result = results.at(k);
        // A failed read keeps the words of the last good one.
        if (!result.ok() || result.data.size() < kWordsPerRead)
            continue;
        const BlockRead& read = kRefreshReads[std::size_t(k)];
        qint32* words = read.block == Block::Segment ? segmentWords_.data() : pidWords_.data();
        std::copy_n(result.data.cbegin(), kWordsPerRead, words + read.firstWord);
        blockSeen_[std::size_t(k)] = true;
    }
    showWords();
}

void SegmentsWindow::showWords()
{
    for (const ValueLabel& shown : labels_) {
        const Field& field = shown.field;
        const bool segment = field.block == Block::Segment;
        const std::size_t block = (segment ? 0 : 3) + std::size_t(field.index / kWordsPerRead);
        if (!blockSeen_[block])
            continue;
        const qint32 word = segment ? segmentWords_[std::size_t(field.index)] : pidWords_[std::size_t(field.index)];
        const QString text = segment && field.index == 0 ? switchText(word) : wordText(word, field.scaled);
        if (shown.label->text() != text)
            shown.label->setText(text);
    }
}

void SegmentsWindow::closeEvent(QCloseEvent* event)
{
    // The close box is a second "返回": the window stays until whoever opened
    // it takes it down, and an edit in progress is kept as "返回" keeps it.
    event->ignore();
    requestReturn();
}

void SegmentsWindow::requestReturn()
{
    // A click on "返回" has already taken the focus from the box; the close
    // box has not, so finish the edit here.
    if (auto* box = qobject_cast<QLineEdit*>(focusWidget())) {
        for (Entry& entry : entries_)
            if (entry.box == box)
                commitEntry(entry);
    }
    Q_EMIT returnRequested();
}
