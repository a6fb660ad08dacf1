#pragma once
#include "LinkTypes.h"
#include "LiveImage.h"

#include <QJsonObject>
#include <QMap>
#include <QString>

// One polling cycle's worth of the instrument, in the station's words, as
// text for a person or JSON for a script.
class StatusReport {
public:
    static StatusReport from(const LiveImage& image, const QMap<LinkOutcome, int>& counters);
    QJsonObject toJson() const { return json_; }
    QString toText() const { return text_; }

private:
    QJsonObject json_;
    QString text_;
};
