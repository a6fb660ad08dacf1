#pragma once
#include "BrokerUrl.h"
#include "LinkClient.h"
#include "LinkHealth.h"
#include "LiveImage.h"
#include "ParamTable.h"
#include "PollingCycle.h"
#include "PortSettings.h"
#include "SampleFlags.h"
#include "Station.h"
#include "TrendScale.h"

#include <QObject>
#include <memory>

class Journal;
class MqttPublisher;
class Recorder;
class TransitionWatcher;
class WriteAudit;

// What makes one loop: the instrument's address on its line (0 for the
// station of one instrument), its name and where its history goes.
struct LoopSetup {
    int address = 0;
    QString name;
    QString databasePath;
    PortMap ports;
    bool mqtt = false;
    BrokerSettings broker;
    QString publishName; // the MQTT station name
};

// One instrument's context: everything the station of one instrument owns
// per instrument (image, polling, health, recorder and rings, transition
// watcher, audited writes, MQTT), for the windows opened for it. On a line
// of several it talks through its own channel of the line's link.
class Loop final : public QObject {
    Q_OBJECT
public:
    // `link` is the station's link (address 0) or the line a channel is made on.
    Loop(LinkClient& link, Journal& journal, const LoopSetup& setup, QObject* parent = nullptr);
    ~Loop() override;

    int address() const { return setup_.address; }
    QString name() const { return setup_.name; }
    // "3号仪表" or "3号仪表 1区上部"; empty for the station of one instrument.
    QString title() const;
    const LoopSetup& setup() const { return setup_; }

    Station& station() { return *station_; }
    LinkClient& link() { return link_; }
    LiveImage& image() { return image_; }
    SampleFlags& flags() { return flags_; }
    TrendScale& scale() { return scale_; }
    ParamRegs& paramRegs() { return paramRegs_; }
    PollingCycle& polling() { return *polling_; }
    LinkHealth& health() { return *health_; }
    WriteAudit& audit() { return *audit_; }
    Recorder* recorder() const { return recorder_.get(); }
    MqttPublisher* publisher() const { return publisher_.get(); }
    // Whether the line has given this loop up for now (it is only probed).
    bool isOffline() const { return offline_; }
    const LineLoopCounters& lineCounters() const { return counters_; }

    // The recorder starts with the hand-over and runs until the station ends.
    void startRecording(bool threaded);
    // At a stop: the recorder writes what it holds, polling ends.
    void stop();

Q_SIGNALS:
    void offlineChanged(bool offline);

private:
    LoopSetup setup_;
    std::unique_ptr<LinkClient> channel_; // on a line of several
    LinkClient& link_;
    LiveImage image_;
    SampleFlags flags_;
    TrendScale scale_;
    ParamRegs paramRegs_; // kept across openings of the configuration window
    std::unique_ptr<LinkHealth> health_;
    std::unique_ptr<PollingCycle> polling_;
    std::unique_ptr<MqttPublisher> publisher_;
    std::unique_ptr<WriteAudit> audit_;
    std::unique_ptr<TransitionWatcher> watcher_;
    std::unique_ptr<Recorder> recorder_;
    std::unique_ptr<Station> station_;
    bool offline_ = false;
    LineLoopCounters counters_;
};
