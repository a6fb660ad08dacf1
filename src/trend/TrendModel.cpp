#include "TrendModel.h"

#include "TrendGeometry.h"
#include "TrendLog.h"

#include <algorithm>
#include <cmath>

Q_LOGGING_CATEGORY(lcTrend, "px.trend")

namespace {
constexpr qint32 kPageStep = 60; // samples per older/newer page
const QColor kRulerOnColour(255, 255, 0);
const QColor kRulerMovedColour(192, 0, 192);
const QColor kRulerOffColour(0, 255, 0);
constexpr qint32 kRulerMarkHeight = 330; // the short mark left by switching the ruler on or off
} // namespace

TrendModel::TrendModel(HistoryRing ring, HistorySource* source)
    : ring_(ring)
    , source_(source)
{
    applyZoomLevel();
}

void TrendModel::load()
{
    buffer_ = TrendBuffer{};
    view_ = TrendViewState{};
    view_.zoomLevel = 1;
    applyZoomLevel();
    nav_ = TrendNavState{};
    enabling_ = TrendEnabling{};
    rulerLine_ = RulerLine{};
    startLivePage();
}

void TrendModel::clearTrendPage()
{
    // Slot 322 is left alone, as are the channels nothing ever fills.
    for (int s = 0; s < kTrendSlots - 1; ++s) {
        buffer_.sampleDate[s] = 0.0;
        buffer_.sampleTime[s] = 0.0;
        for (int k = 0; k <= 8; ++k)
            buffer_.channelValue[k][s] = 0.0f;
    }
}

bool TrendModel::loadTrendPage()
{
    clearTrendPage();
    for (int s = 0; s < kTrendSlots - 1; ++s)
        buffer_.gapMark[s] = 0;

    std::optional<QVector<HistoryRow>> rows;
    if (source_)
        rows = source_->loadPage(ring_, view_.pageEndId, view_.pageSize);
    if (!rows)
        qCDebug(lcTrend) << "page ending at" << view_.pageEndId << "not readable; curves stay at 0";

    const int slotCount = std::clamp<int>(view_.pageSize, 0, kTrendSlots - 2);
    const int filled = rows ? std::min<int>(rows->size(), slotCount) : 0;
    for (int i = 1; i <= slotCount; ++i) {
        if (i <= filled) {
            const HistoryRow& row = rows->at(i - 1);
            buffer_.sampleDate[i] = row.date;
            buffer_.sampleTime[i] = row.time;
            buffer_.channelValue[TrendBuffer::PV][i] = row.pv;
            buffer_.channelValue[TrendBuffer::OP][i] = row.op;
            buffer_.channelValue[TrendBuffer::SV][i] = row.sv;
        }
        // Times of day only: the first sample after midnight is marked too,
        // and so is the first empty slot after a short page.
        if (std::abs(buffer_.sampleTime[i] - buffer_.sampleTime[i - 1]) > kGapThreshold)
            buffer_.gapMark[i] = qint16(i);
    }
    return rows.has_value();
}

void TrendModel::applyZoomLevel()
{
    for (const ZoomRow& row : kZoomTable) {
        if (row.zoomLevel == view_.zoomLevel) {
            view_.sampleStep = row.sampleStep;
            view_.firstSlot = row.firstSlot;
            return;
        }
    }
}

void TrendModel::refreshNewestId()
{
    if (!source_)
        return;
    if (const auto id = source_->newestId(ring_))
        view_.newestId = *id;
    else
        qCDebug(lcTrend) << "newest id not readable; keeping" << view_.newestId;
}

void TrendModel::startLivePage()
{
    refreshNewestId();
    view_.pageEndId = view_.newestId;
    view_.pageSize = kLivePageSize;
    view_.sampleCursor = kLivePageSize;
    loadTrendPage();
}

bool TrendModel::zoomIn()
{
    if (view_.zoomLevel <= 1)
        return false;
    --view_.zoomLevel;
    if (view_.zoomLevel <= 1)
        enabling_.zoomIn = false;
    if (view_.zoomLevel < 4)
        enabling_.zoomOut = true;
    applyZoomLevel();
    return true;
}

bool TrendModel::zoomOut()
{
    if (view_.zoomLevel >= 4)
        return false;
    ++view_.zoomLevel;
    if (view_.zoomLevel > 1)
        enabling_.zoomIn = true;
    if (view_.zoomLevel >= 4)
        enabling_.zoomOut = false;
    applyZoomLevel();
    return true;
}

qint32 TrendModel::idsBack(qint32 newestId, qint32 distance)
{
    qint32 id = newestId >= distance ? newestId - distance : kRingSize - (distance - newestId);
    // Paging round a full ring more than once keeps going round.
    while (id < 0)
        id += kRingSize;
    return id;
}

TrendCommandResult TrendModel::olderPage()
{
    TrendCommandResult result;
    ++nav_.pagesBack;
    view_.pageSize = kPagedPageSize;
    if (nav_.pagesBack >= 1) {
        result.tick = TickRequest::Stop;
        enabling_.newer = true;
    }
    const qint32 distance = kPageStep * nav_.pagesBack - nav_.pageShift;
    if (view_.newestId > distance && view_.newestId - distance <= kPagedPageSize) {
        // No full page left before the oldest sample: keep the chart as it is.
        enabling_.older = false;
        nav_.olderBlocked = true;
        return result;
    }
    view_.pageEndId = idsBack(view_.newestId, distance);
    view_.sampleCursor = kPagedPageSize;
    loadTrendPage();
    result.pageLoaded = true;
    return result;
}

void TrendModel::enterLiveView()
{
    nav_.pagesBack = 0;
    nav_.pageShift = 0;
    enabling_.newer = false;
    // Back in the present there is room for older pages again, whatever
    // blocked them before.
    nav_.olderBlocked = false;
    enabling_.older = true;
    startLivePage();
}

TrendCommandResult TrendModel::newerPage()
{
    TrendCommandResult result;
    if (nav_.pagesBack <= 0)
        return result;
    --nav_.pagesBack;
    view_.pageSize = kPagedPageSize;
    if (nav_.pagesBack == 0) {
        enterLiveView();
        result.pageLoaded = true;
        result.tick = TickRequest::Restart;
        return result;
    }
    view_.pageEndId = idsBack(view_.newestId, kPageStep * nav_.pagesBack - nav_.pageShift);
    view_.sampleCursor = kPagedPageSize;
    loadTrendPage();
    result.pageLoaded = true;
    enabling_.older = true;
    nav_.olderBlocked = false;
    return result;
}

TrendCommandResult TrendModel::setRuler(bool on)
{
    TrendCommandResult result;
    if (on) {
        rulerLine_ = {true, kRulerOnColour, 1, 0, kRulerMarkHeight};
        enabling_.slider = true;
        nav_.rulerOn = true;
        result.tick = TickRequest::Stop;
        return result;
    }
    rulerLine_ = {true, kRulerOffColour, 0, 0, kRulerMarkHeight};
    nav_.rulerOn = false;
    enabling_.slider = false;
    result.tick = TickRequest::Restart;
    // Switching the ruler off always returns to the present; the view is
    // then live in every respect, so the page count goes back to 0 too.
    enterLiveView();
    result.pageLoaded = true;
    return result;
}

TrendModel::RulerMove TrendModel::moveRuler(qint32 position)
{
    RulerMove move;
    if (position == TrendGeometry::kRulerMin && !nav_.olderBlocked)
        move.command = olderPage();
    if (position == TrendGeometry::kRulerMax && nav_.pagesBack > 0)
        move.command = newerPage();
    rulerLine_ = {true, kRulerMovedColour, position, 0, TrendGeometry::kScaleHeight};
    move.slot = TrendGeometry::rulerSlot(position, view_.sampleStep, view_.firstSlot);
    return move;
}

TrendCommandResult TrendModel::jumpToId(qint32 id)
{
    TrendCommandResult result;
    if (id < 1 || id > kRingSize)
        return result;
    refreshNewestId();
    const qint32 newest = view_.newestId;
    qint32 end = id;
    // Like the older-page command, never end a page where no full page fits
    // before the first id; show the first full page instead.
    if (id < kPagedPageSize && id <= newest)
        end = std::min(newest, kPagedPageSize);
    qint32 distance = newest - end;
    if (distance < 0)
        distance += kRingSize;
    nav_.pagesBack = qint16(std::max<qint32>(1, (distance + kPageStep - 1) / kPageStep));
    nav_.pageShift = qint16(kPageStep * nav_.pagesBack - distance);
    nav_.olderBlocked = false;
    enabling_.older = true;
    enabling_.newer = true;
    view_.pageSize = kPagedPageSize;
    view_.pageEndId = end;
    view_.sampleCursor = kPagedPageSize;
    loadTrendPage();
    result.pageLoaded = true;
    result.tick = TickRequest::Stop;
    return result;
}

bool TrendModel::appendLiveSample(float pv, float op, float sv, const OleStamp& stamp)
{
    ++view_.sampleCursor;
    bool newPage = false;
    // ">=" rather than "==": zooming in while the run-on area is fuller than
    // the new level allows must start a new page, not run off the buffer.
    if (view_.sampleCursor >= kLivePageSize + 20 * view_.zoomLevel) {
        clearTrendPage();
        startLivePage();
        newPage = true;
    }
    const int slot = view_.sampleCursor;
    buffer_.channelValue[TrendBuffer::PV][slot] = pv;
    buffer_.channelValue[TrendBuffer::OP][slot] = op;
    buffer_.channelValue[TrendBuffer::SV][slot] = sv;
    buffer_.sampleDate[slot] = stamp.date;
    buffer_.sampleTime[slot] = stamp.time;
    return newPage;
}
