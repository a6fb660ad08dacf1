#include "OperatorCommands.h"
#include "WriteAudit.h"
#include "WriteLabels.h"
#include "BackgroundColour.h"
#include "LinkClient.h"
#include "LiveImage.h"
#include "MonitorLog.h"
#include "PanelWidgets.h"
#include "RefusedEntry.h"
#include "StateColours.h"

#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

using namespace MonitorTables;

OperatorCommands::OperatorCommands(LinkClient& link, const LiveImage& image, QWidget* root, QObject* parent)
    : QObject(parent), link_(link), image_(image)
{
    setObjectName(QStringLiteral("OperatorCommands"));
    for (const EditRow& row : editRows()) {
        Entry e{&row, root->findChild<QLineEdit*>(QStringLiteral("T_3RW_%1").arg(row.box)),
                root->findChild<QPushButton*>(QString::fromLatin1(row.button))};
        if (!e.box || !e.button) {
            qCWarning(lcMonitor) << "entry row" << row.box << "has no box or button on the window";
            continue;
        }
        e.box->installEventFilter(this);
        connect(e.button, &QPushButton::clicked, this, [this, r = &row, b = e.button] {
            if (!b->isHidden()) // a click queued before the button was hidden
                send(*r);
        });
        entries_.insert(e.box, e);
        entryOf_.insert(&row, e);
    }
    for (const ModeRow& row : modeRows()) {
        Mode m{&row, root->findChild<QLabel*>(QStringLiteral("D_1RW_%1").arg(row.label)),
               root->findChild<QPushButton*>(QString::fromLatin1(row.button))};
        if (!m.label || !m.button) {
            qCWarning(lcMonitor) << "mode row" << row.label << "has no label or button on the window";
            continue;
        }
        m.label->installEventFilter(this);
        connect(m.button, &QPushButton::clicked, this, [this, r = &row, b = m.button] {
            if (!b->isHidden()) // one reveal, one toggle
                toggle(*r);
        });
        modes_.insert(m.label, m);
        modeOf_.insert(&row, m);
    }
}

bool OperatorCommands::send(const EditRow& row)
{
    const auto it = entryOf_.constFind(&row);
    if (it == entryOf_.cend())
        return false;
    const EntryRule::Verdict verdict = entryVerdict(it->box->text(), row);
    const WriteLabel label = WriteLabels::forEditRow(row);
    if (!verdict.accepted()) {
        qCInfo(lcMonitor) << "entry" << it->box->objectName() << "refused:" << it->box->text();
        RefusedEntry::mark(it->box, verdict.refusal);
        auditRefusal(audit_, WriteRequest{WriteFn::Set_4X_D1, row.reg, 0}, label, it->box->text(), verdict.refusal);
        return false;
    }
    RefusedEntry::clear(it->box);
    const std::optional<qint32> value = verdict.value;
    // The link repeats the write once if the library answers -8888; the log
    // says what came of it, not that it was queued.
    auditedWrite(audit_, link_, this, WriteRequest{WriteFn::Set_4X_D1, row.reg, *value}, label,
                 [reg = row.reg, v = *value](const WriteResult& r) {
                     if (r.outcome == LinkOutcome::Answered)
                         qCInfo(lcMonitor) << "register" << reg << "written with" << v;
                     else
                         qCWarning(lcMonitor).noquote()
                             << "register" << reg << "not written with" << v << "-" << writeFailureText(r);
                 });
    if (row.hideAfterSend)
        PanelWidgets::hideWithoutPassingFocus(it->button);
    return true;
}

void OperatorCommands::toggle(const ModeRow& row)
{
    const auto it = modeOf_.constFind(&row);
    if (it == modeOf_.cend())
        return;
    // The polled state decides the direction, not a fresh read: two clicks
    // between polls write the same direction twice.
    const bool set = image_.CoilBits[std::size_t(row.coil - 1)] == 0;
    auditedWrite(audit_, link_, this, WriteRequest{set ? WriteFn::Set_0X_Bit1 : WriteFn::Rst_0X_Bit1, row.coil, 0},
                 WriteLabels::forCoil(row.coil), [coil = row.coil, set](const WriteResult& r) {
                     if (r.outcome == LinkOutcome::Answered)
                         qCInfo(lcMonitor) << "coil" << coil << (set ? "set" : "reset");
                     else
                         qCWarning(lcMonitor).noquote()
                             << "coil" << coil << (set ? "not set" : "not reset") << "-" << writeFailureText(r);
                 });
    PanelWidgets::hideWithoutPassingFocus(it->button);
}

bool OperatorCommands::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::FocusIn:
        if (const auto it = entries_.constFind(watched); it != entries_.cend()) {
            setBackgroundColour(it->box, StateColour::focus());
            if (it->row->revealOnFocus)
                it->button->show();
        }
        break;
    case QEvent::FocusOut:
        if (const auto it = entries_.constFind(watched); it != entries_.cend())
            setBackgroundColour(it->box, StateColour::white());
        break;
    case QEvent::MouseButtonDblClick:
        if (const auto it = modes_.constFind(watched); it != modes_.cend())
            it->button->show();
        break;
    default: break;
    }
    return QObject::eventFilter(watched, event);
}
