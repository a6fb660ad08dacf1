#include "Loop.h"
#include "Journal.h"
#include "JournalEvent.h"
#include "MqttPublisher.h"
#include "Recorder.h"
#include "TransitionWatcher.h"
#include "WriteAudit.h"

namespace {

LinkClient& linkFor(LinkClient& line, int address, std::unique_ptr<LinkClient>& channel)
{
    if (address <= 0)
        return line;
    channel = std::make_unique<LinkClient>(line, address);
    return *channel;
}

} // namespace

Loop::Loop(LinkClient& link, Journal& journal, const LoopSetup& setup, QObject* parent)
    : QObject(parent), setup_(setup), link_(linkFor(link, setup.address, channel_))
{
    health_ = std::make_unique<LinkHealth>();
    polling_ = std::make_unique<PollingCycle>(link_, image_);
    connect(&link_, &LinkClient::exchangeCompleted, health_.get(), &LinkHealth::onExchange);
    connect(&link_, &LinkClient::exceptionAnswered, health_.get(), &LinkHealth::onException);
    connect(&link_, &LinkClient::portStateChanged, health_.get(), &LinkHealth::onPortState);
    connect(polling_.get(), &PollingCycle::blocksAnswered, health_.get(), &LinkHealth::onBlocks);
    connect(polling_.get(), &PollingCycle::cycleCompleted, health_.get(), [this](bool all) {
        health_->setSkippedTicks(polling_->skippedTicks());
        health_->onCycle(all);
    });
    connect(&link_, &LinkClient::offlineChanged, this, [this](bool offline) {
        offline_ = offline;
        health_->reevaluate();
        Q_EMIT offlineChanged(offline);
    });
    connect(&link_, &LinkClient::countersChanged, this, [this](const LineLoopCounters& c) { counters_ = c; });
    if (setup_.mqtt) {
        // After the health connection above, so a cycle's live message
        // carries the link state that cycle produced.
        publisher_ = std::make_unique<MqttPublisher>(setup_.broker, setup_.publishName, image_, *health_);
        connect(polling_.get(), &PollingCycle::cycleCompleted, publisher_.get(), &MqttPublisher::onCycleCompleted);
        connect(&journal, &Journal::eventAppended, publisher_.get(),
                [this, p = publisher_.get()](const JournalEvent& e) {
                    // Each loop's topics carry its own events and the station's.
                    if (e.loop == 0 || e.loop == setup_.address)
                        p->publishEvent(toJson(e));
                });
    }
    station_.reset(
        new Station{link_, image_, *polling_, *health_, flags_, scale_, nullptr, setup_.ports, setup_.databasePath});
    audit_ = std::make_unique<WriteAudit>(link_, journal);
    audit_->setLoop(setup_.address);
    watcher_ = std::make_unique<TransitionWatcher>(journal, image_, link_, *health_);
    watcher_->setLoop(setup_.address);
    connect(polling_.get(), &PollingCycle::cycleCompleted, watcher_.get(), &TransitionWatcher::onCycle);
    connect(health_.get(), &LinkHealth::stateChanged, watcher_.get(), &TransitionWatcher::onLinkState);
    connect(&link_, &LinkClient::portStateChanged, watcher_.get(), &TransitionWatcher::onPortState);
    station_->journal = &journal;
    station_->audit = audit_.get();
}

Loop::~Loop() = default;

QString Loop::title() const
{
    if (setup_.address <= 0)
        return QString();
    const QString number = tr("%1号仪表").arg(setup_.address);
    return setup_.name.isEmpty() ? number : number + QLatin1Char(' ') + setup_.name;
}

void Loop::startRecording(bool threaded)
{
    if (recorder_)
        return;
    recorder_ = std::make_unique<Recorder>(image_, flags_, setup_.databasePath,
                                           threaded ? Recorder::Mode::Threaded : Recorder::Mode::Inline);
    station_->recorder = recorder_.get();
    connect(recorder_.get(), &Recorder::stateChanged, watcher_.get(), [this](RecorderState s, const QString& text) {
        watcher_->onRecorderState(s == RecorderState::Recording, text, recorder_->backlogSize(),
                                  recorder_->droppedSamples());
    });
    recorder_->start();
}

void Loop::stop()
{
    if (recorder_)
        recorder_->stop();
    polling_->stop();
    health_->onPortClosed();
}
