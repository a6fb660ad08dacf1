#pragma once
#include "LinkTypes.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QTimer>

// What the operator needs to trust the values on screen: whether the
// instrument is answering, how old the last good values are, and how the
// exchanges have been going.
class LinkHealth : public QObject {
    Q_OBJECT
public:
    enum class State {
        Closed,     // port not opened
        Waiting,    // opened, no complete cycle yet
        Answering,  // a good cycle within the last kNoAnswerMs
        NoAnswer,   // opened, but no good cycle for more than kNoAnswerMs
        CannotOpen, // the device could not be opened, or another program holds it (the link keeps trying)
    };
    static constexpr int kNoAnswerMs = 2000;

    explicit LinkHealth(QObject* parent = nullptr);
    // Tests shorten the kNoAnswerMs limit.
    void setNoAnswerMs(int ms) { noAnswerMs_ = ms; }

    State state() const { return state_; }
    int count(LinkOutcome outcome) const { return counts_.value(int(outcome), 0); }
    // The code of the latest exception answer (0: none yet).
    int lastExceptionCode() const { return lastException_; }
    // Milliseconds since the last good cycle; -1 when there was none.
    qint64 ageOfLastGoodMs() const;
    QDateTime lastGoodCycle() const { return lastGoodWall_; }
    int skippedTicks() const { return skipped_; }
    // While the instrument answers, a polled block that has not answered for
    // kNoAnswerMs is stale on its own: only its values look old.
    bool blockStale(int block) const;
    // The failure texts of the stale blocks, "报警类型读取失败"; empty when none.
    QString staleBlocksText() const;

    // Chinese texts for the status line and its tooltip.
    static QString stateText(State state);
    // The current state's text; tells a device held by another program apart.
    QString text() const;
    bool portInUse() const { return state_ == State::CannotOpen && portState_ == PortState::InUse; }
    QString countersText() const;

public Q_SLOTS:
    void onExchange(LinkOutcome outcome);
    void onException(int code);
    void onCycle(bool allAnswered);
    // Which blocks of the polling cycle answered (bit k: block k). Any answer
    // shows the link alive; the state is NoAnswer only when nothing answers.
    void onBlocks(quint32 answeredMask);
    void onPortState(PortState state);
    void onPortOpened();
    void onPortClosed();
    void setSkippedTicks(int skipped) { skipped_ = skipped; }
    void reevaluate();

Q_SIGNALS:
    void stateChanged(LinkHealth::State state);

private:
    void setState(State state);

    State state_ = State::Closed;
    bool open_ = false;
    PortState portState_ = PortState::Closed;
    QHash<int, int> counts_;
    int lastException_ = 0;
    QElapsedTimer sinceGood_; // the last cycle in which anything answered
    QHash<int, QElapsedTimer> blockGood_;
    QElapsedTimer sinceOpen_;
    QDateTime lastGoodWall_;
    int skipped_ = 0;
    int noAnswerMs_ = kNoAnswerMs;
    QTimer timer_;
};
