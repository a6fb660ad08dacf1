#pragma once
#include "FakeModbus485.h"
#include "LinkClient.h"
#include "LinkHealth.h"
#include "LiveImage.h"
#include "MainWindow.h"
#include "OperatorCommands.h"
#include "PollingCycle.h"
#include "SampleFlags.h"
#include "Station.h"
#include "TrendScale.h"
#include "TrendView.h"

#include <QApplication>
#include <QFont>
#include <QTemporaryDir>
#include <memory>

// A station wired as the application wires it, on an inline link over the
// recording fake and an empty database folder, and its main window.
struct MonitorRig {
    FakeModbus485* fake = new FakeModbus485;
    LinkClient link{std::unique_ptr<Modbus485>(fake), LinkClient::Mode::Inline};
    LiveImage image;
    LinkHealth health;
    PollingCycle polling{link, image};
    SampleFlags flags;
    TrendScale scale;
    QTemporaryDir dir;
    Station station{
        link, image, polling, health, flags, scale, nullptr, PortMap{}, dir.filePath(QStringLiteral("station.db"))};
    std::unique_ptr<MainWindow> window;

    MonitorRig()
    {
        // The station's own font, so that sizes are those the operator sees.
        QFont font(QStringLiteral("Noto Sans CJK SC"));
        font.setPointSize(10);
        QApplication::setFont(font);
        QObject::connect(&polling, &PollingCycle::cycleCompleted, &health, &LinkHealth::onCycle);
        QObject::connect(&link, &LinkClient::portStateChanged, &health, &LinkHealth::onPortState);
        window = std::make_unique<MainWindow>(station);
    }
    ~MonitorRig()
    {
        polling.stop();
        window.reset();
    }
    template <typename W> W* find(const QString& name) const { return window->findChild<W*>(name); }
    TrendView* trendView() const { return find<TrendView>(QStringLiteral("trendView")); }
    OperatorCommands* commands() const { return window->findChild<OperatorCommands*>(); }
};
