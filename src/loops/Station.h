#pragma once
#include "LinkClient.h"
#include "LinkHealth.h"
#include "LiveImage.h"
#include "PollingCycle.h"
#include "PortSettings.h"
#include "SampleFlags.h"
#include "TrendScale.h"

#include <QString>

class Journal;
class Recorder;
class WriteAudit;

// The program-wide state every window of the station shares. The
// application owns it for the whole run; windows hold a reference.
struct Station {
    LinkClient& link;
    LiveImage& image;
    PollingCycle& polling; // "Met1"
    LinkHealth& health;
    SampleFlags& flags;
    TrendScale& scale;
    Recorder* recorder = nullptr; // "mscom"; null until the hand-over created it
    PortMap ports;
    QString databasePath;
    Journal* journal = nullptr;  // the event journal; null in set-ups without one
    WriteAudit* audit = nullptr; // operator writes go through it when present
};
