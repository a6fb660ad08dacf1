#include "HistoryPeriod.h"
#include "HistoryReadConnection.h"
#include "RingSchema.h"
#include "StationClock.h"
#include "TuningLog.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>

#include <algorithm>
#include <cmath>
#include <vector>

namespace HistoryPeriod {
namespace {

bool fail(const QString& message, QString* error)
{
    qCWarning(lcTuning) << message;
    if (error)
        *error = message;
    return false;
}

double dayStamp(const QDateTime& t)
{
    const OleStamp s = OleTime::fromDateTime(t);
    return s.date + s.time;
}

bool query(QSqlDatabase& db, double from, double to, std::vector<TimedSample>& rows, QString* error)
{
    QSqlQuery q(db);
    q.setForwardOnly(true);
    // Times are whole seconds as fractions of a day; half a second either
    // side absorbs the rounding of the stored fractions.
    constexpr double kHalfSecond = 0.5 / 86400.0;
    q.prepare(RingSchema::periodQuery());
    q.addBindValue(from - kHalfSecond);
    q.addBindValue(to + kHalfSecond);
    if (!q.exec())
        return fail(QCoreApplication::translate("HistoryPeriod", "读取历史记录失败: %1").arg(q.lastError().text()),
                    error);
    while (q.next()) {
        const double seconds = (q.value(0).toDouble() + q.value(1).toDouble()) * 86400.0;
        rows.push_back({std::round(seconds), q.value(2).toDouble(), q.value(3).toDouble()});
    }
    return true;
}

} // namespace

std::optional<RegularSeries> read(const QString& databasePath, const QDateTime& from, const QDateTime& to,
                                  QString* error)
{
    if (!from.isValid() || !to.isValid() || !(from < to)) {
        fail(QCoreApplication::translate("HistoryPeriod", "时间范围无效"), error);
        return std::nullopt;
    }
    if (!databasePath.contains(QLatin1String("://")) && !QFileInfo(databasePath).isFile()) {
        fail(QCoreApplication::translate("HistoryPeriod", "数据库文件不存在: %1").arg(databasePath), error);
        return std::nullopt;
    }
    std::vector<TimedSample> rows;
    {
        HistoryReadConnection connection(QStringLiteral("px-tuning"));
        QString message;
        if (!connection.open(databasePath, &message)) {
            fail(QCoreApplication::translate("HistoryPeriod", "无法打开数据库: %1").arg(message), error);
            return std::nullopt;
        }
        if (!query(connection.db(), dayStamp(from), dayStamp(to), rows, error))
            return std::nullopt;
    }

    // The recorder's first row after start-up, written before the first
    // reading came in, holds zeros: not the process.
    const auto firstReading =
        std::find_if(rows.begin(), rows.end(), [](const TimedSample& r) { return r.pv != 0.0 || r.op != 0.0; });
    rows.erase(rows.begin(), firstReading);
    if (rows.empty()) {
        fail(QCoreApplication::translate("HistoryPeriod", "该时间范围内没有记录"), error);
        return std::nullopt;
    }
    for (std::size_t i = 1; i < rows.size(); ++i) {
        if (rows[i].t - rows[i - 1].t > kMaxGapS) {
            const double day = std::floor(rows[i - 1].t / 86400.0);
            const double fraction = rows[i - 1].t / 86400.0 - day;
            fail(QCoreApplication::translate("HistoryPeriod", "记录在 %1 %2 之后中断 %3 秒")
                     .arg(OleTime::dateText(day), OleTime::timeText(fraction),
                          QString::number(rows[i].t - rows[i - 1].t)),
                 error);
            return std::nullopt;
        }
    }
    const double origin = rows.front().t;
    for (TimedSample& s : rows)
        s.t -= origin;
    RegularSeries series = resample(rows, 1.0);
    return series;
}

} // namespace HistoryPeriod
