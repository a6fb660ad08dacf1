#include "TransitionWatcher.h"
#include "Journal.h"
#include "LinkClient.h"
#include "MonitorBlock.h"
#include "NumberText.h"

#include <iterator>

namespace {
// By PortSettings::parityIndex.
constexpr const char* kParityWords[] = {QT_TRANSLATE_NOOP("JournalMessage", "无"),
                                        QT_TRANSLATE_NOOP("JournalMessage", "奇"),
                                        QT_TRANSLATE_NOOP("JournalMessage", "偶")};
} // namespace

QString journalPortText(const PortSettings& s)
{
    const bool known = s.parityIndex >= 0 && s.parityIndex < int(std::size(kParityWords));
    return QString::fromUtf8(JournalForm::kPortText)
        .arg(s.address)
        .arg(baudRateOf(s.baudIndex))
        .arg(QString::fromUtf8(kParityWords[known ? s.parityIndex : 0]));
}

QList<const char*> journalWords()
{
    QList<const char*> words;
    for (const MonitorBlock::Bit& b : MonitorBlock::bits())
        words << b.journalOn << b.journalOff;
    for (const char* w : kParityWords)
        words << w;
    return words;
}

TransitionWatcher::TransitionWatcher(Journal& journal, const LiveImage& image, const LinkClient& link,
                                     const LinkHealth& health, QObject* parent)
    : QObject(parent), journal_(journal), image_(image), link_(link), health_(health)
{
}

void TransitionWatcher::append(const QString& kind, const QString& source, const QString& message)
{
    JournalEvent event;
    event.kind = kind;
    event.source = source;
    // On a line of several instruments the event names its instrument.
    event.message = loop_ > 0 && kind == QString::fromUtf16(JournalKind::Link)
                        ? QStringLiteral("%1号仪表").arg(loop_) + message
                        : message;
    event.loop = loop_;
    journal_.append(std::move(event));
}

QString TransitionWatcher::portName() const { return QStringLiteral("port %1").arg(link_.portSettings().port); }

void TransitionWatcher::onCycle(bool allAnswered)
{
    // Until one cycle answered in full the image may still hold zeros from
    // the start, which are no news.
    if (!haveReference_ && !allAnswered)
        return;
    // The polled bits (MonitorBlock::bits()) with the journal's words for
    // their two states. Alarm outputs and sensor faults (the discrete inputs)
    // carry the PV and count even when already on at the reference; the mode
    // coils only when they change.
    const auto watched = MonitorBlock::bits();
    for (std::size_t k = 0; k < last_.size() && k < watched.size(); ++k) {
        const MonitorBlock::Bit& w = watched[k];
        const bool alarm = w.table == MonitorBlock::BitTable::Input;
        const qint32 now = MonitorBlock::rawBit(w, image_);
        // At the reference an alarm already on is news; a mode is not.
        const bool changed = haveReference_ ? now != last_[k] : alarm && now != 0;
        if (changed) {
            QString message = QString::fromUtf8(now ? w.journalOn : w.journalOff);
            if (alarm)
                message += QStringLiteral("（PV %1）").arg(singleText(image_.Values[0])); // as the window shows it
            append(QString::fromUtf16(alarm ? JournalKind::Alarm : JournalKind::State),
                   QString::fromLatin1(w.journalSource), message);
        }
        last_[k] = now;
    }
    haveReference_ = true;
}

void TransitionWatcher::onLinkState(LinkHealth::State state)
{
    const LinkHealth::State before = linkState_;
    if (state == before)
        return;
    linkState_ = state;
    using S = LinkHealth::State;
    if (before == S::Closed && state != S::Closed) {
        // The operator opened the port; it counts as open once the device
        // is really there (the port state, or an answer, says so).
        session_ = true;
        openJournaled_ = false;
        haveReference_ = false; // a new line, maybe a new instrument
        if (portState_ == PortState::Open)
            portOpened();
    }
    if (state == S::Closed) {
        if (before != S::Closed)
            portClosed();
        session_ = false;
        return;
    }
    if (state == S::Waiting)
        return; // passing: opened, no answer yet
    if ((state == S::Answering || state == S::NoAnswer) && !openJournaled_)
        portOpened();
    if (state == S::Answering && before != S::NoAnswer)
        return; // the first answer after opening is not a recovery
    // A held device says so, as the status line does.
    const QString text = state == S::CannotOpen ? health_.text() : LinkHealth::stateText(state);
    append(QString::fromUtf16(JournalKind::Link), portName(),
           QStringLiteral("%1（%2）").arg(text, health_.countersText()));
}

void TransitionWatcher::onPortState(PortState state)
{
    const PortState before = portState_;
    portState_ = state;
    if (state == PortState::CannotOpen && before == PortState::Open)
        deviceLost_ = true;
    if (state == PortState::Open && before == PortState::CannotOpen && deviceLost_) {
        deviceLost_ = false;
        append(QString::fromUtf16(JournalKind::Link), portName(),
               QString::fromUtf8(JournalForm::kDeviceBack).arg(health_.countersText()));
    } else if (state == PortState::Open && session_ && !openJournaled_) {
        portOpened();
    }
}

void TransitionWatcher::portOpened()
{
    openJournaled_ = true;
    append(QString::fromUtf16(JournalKind::Link), portName(),
           QString::fromUtf8(JournalForm::kPortOpened).arg(journalPortText(link_.portSettings())));
}

void TransitionWatcher::portClosed()
{
    append(QString::fromUtf16(JournalKind::Link), portName(),
           QString::fromUtf8(JournalForm::kPortClosed).arg(health_.countersText()));
    deviceLost_ = false;
}

void TransitionWatcher::onRecorderState(bool healthy, const QString& text, int kept, qint64 droppedTotal)
{
    if (!healthy) {
        recorderMaxKept_ = qMax(recorderMaxKept_, kept);
        if (!recorderHealthy_)
            return;
        recorderHealthy_ = false;
        recorderDroppedAtTrouble_ = droppedTotal;
        append(QString::fromUtf16(JournalKind::Recorder), QStringLiteral("recorder"), text);
        return;
    }
    if (recorderHealthy_)
        return;
    recorderHealthy_ = true;
    const qint64 dropped = droppedTotal - recorderDroppedAtTrouble_;
    QString message = QStringLiteral("数据库恢复可写");
    if (recorderMaxKept_ > 0)
        message += QStringLiteral("，暂存的样本已补写（最多暂存 %1 条）").arg(recorderMaxKept_);
    if (dropped > 0)
        message += QStringLiteral("，丢弃 %1 条").arg(dropped);
    recorderMaxKept_ = 0;
    append(QString::fromUtf16(JournalKind::Recorder), QStringLiteral("recorder"), message);
}
