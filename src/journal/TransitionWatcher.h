#pragma once
#include "LinkHealth.h"
#include "LinkTypes.h"
#include "LiveImage.h"
#include "PortSettings.h"

#include <QObject>
#include <array>

class Journal;
class LinkClient;

// The line's settings as journal messages state them:
// "仪表地址 1，波特率 9600，校验 无" (parity as the port panel names it).
QString journalPortText(const PortSettings& settings);

// The forms of the watcher's port messages, %n for the parts that vary, in
// the "JournalMessage" translation context: the journal view translates
// stored messages by them.
namespace JournalForm {
inline constexpr char kDeviceBack[] = QT_TRANSLATE_NOOP("JournalMessage", "设备重新出现，端口已重新打开（%1）");
inline constexpr char kPortOpened[] = QT_TRANSLATE_NOOP("JournalMessage", "端口已打开（%1）");
inline constexpr char kPortClosed[] = QT_TRANSLATE_NOOP("JournalMessage", "端口已关闭（%1）");
inline constexpr char kPortText[] = QT_TRANSLATE_NOOP("JournalMessage", "仪表地址 %1，波特率 %2，校验 %3");
} // namespace JournalForm

// The whole words the watcher writes as messages or parts of them: the
// polled bits' two states ("报警1", "报警1解除", "自动", ...) and the parity
// ("无", "奇", "偶"), in the "JournalMessage" translation context.
QList<const char*> journalWords();

// Turns what the station sees into journal events, once per change and
// never once per poll: alarm outputs and sensor faults (with the PV at that
// moment), the mode coils, the link's state and port, and the recorder.
//
// The first complete poll after the port opens is the reference: alarms and
// sensor faults already on are recorded then (the operator must see them),
// modes are not (nothing changed).
class TransitionWatcher final : public QObject {
    Q_OBJECT
public:
    static constexpr std::size_t kWatchedBits = 7; // alarm outputs, sensor faults, mode coils

    TransitionWatcher(Journal& journal, const LiveImage& image, const LinkClient& link, const LinkHealth& health,
                      QObject* parent = nullptr);

    // The instrument's address on a line of several (its events carry it); 0: the only one.
    void setLoop(int address) { loop_ = address; }

public Q_SLOTS:
    // After each polling cycle.
    void onCycle(bool allAnswered);
    void onLinkState(LinkHealth::State state);
    void onPortState(PortState state);
    // The recorder's state, as its status text says it, with the samples
    // kept in memory and dropped since the start.
    void onRecorderState(bool healthy, const QString& text, int kept, qint64 droppedTotal);

private:
    void append(const QString& kind, const QString& source, const QString& message);
    void portOpened();
    void portClosed();
    QString portName() const;

    Journal& journal_;
    int loop_ = 0;
    const LiveImage& image_;
    const LinkClient& link_;
    const LinkHealth& health_;
    bool haveReference_ = false;
    std::array<qint32, kWatchedBits> last_{};
    LinkHealth::State linkState_ = LinkHealth::State::Closed;
    PortState portState_ = PortState::Closed;
    bool deviceLost_ = false;
    bool session_ = false;       // the operator has the port open
    bool openJournaled_ = false; // "端口已打开" written for this session
    bool recorderHealthy_ = true;
    int recorderMaxKept_ = 0;
    qint64 recorderDroppedAtTrouble_ = 0;
};
