#pragma once
#include "LineScheduler.h"
#include "LinkHealth.h"

#include <QWidget>

class QLabel;
class QTimer;

// "数据更新于 12 秒前": how old the last good values are (from
// LinkHealth::ageOfLastGoodMs(); negative when there were none).
QString linkAgeText(qint64 ms);

// The main window's bottom line: is the instrument answering, how old are the
// values on screen, and is the recorder writing. Counters in the tooltip.
class StatusLine : public QWidget {
    Q_OBJECT
public:
    StatusLine(const LinkHealth& health, QWidget* parent = nullptr);

    void setDevice(const QString& device);

public Q_SLOTS:
    void refresh();
    void setRecorderState(const QString& text, bool healthy);
    // The broker connection; the cell stays hidden unless publishing is on.
    void setPublisherState(const QString& text, bool healthy, const QString& detail = QString());
    // Shown only while the journal cannot be written.
    void setJournalState(const QString& text, bool healthy);
    // Shown only while there are any.
    void setUnacknowledgedAlarms(int count);
    // A loop on a line of several: its response times, the line's counters
    // for it in the tooltip. Hidden on the station of one instrument.
    void setLineCounters(const LineLoopCounters& counters);

private:
    const LinkHealth& health_;
    QLabel* link_ = nullptr;
    QLabel* age_ = nullptr;
    QLabel* device_ = nullptr;
    QLabel* recorder_ = nullptr;
    QLabel* publisher_ = nullptr;
    QLabel* journal_ = nullptr;
    QLabel* alarms_ = nullptr;
    QLabel* response_ = nullptr;
    QTimer* timer_ = nullptr;
};
