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

TrendModel::TrendModel(HistoryRing ring, HistorySource* source) : TrendModel(ring, TrendHistory::at(source)) {}

TrendModel::TrendModel(HistoryRing ring, std::unique_ptr<TrendHistory> history)
    : ring_(ring), history_(std::move(history))
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
    deferredOlder_ = 0;
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
    const int slotCount = std::clamp<int>(view_.pageSize, 0, kTrendSlots - 2);
    // A page never reaches round past the ring's oldest sample into its
    // newest ones: sorted by time they would land after the page's own.
    qint32 distance = view_.newestId - view_.pageEndId;
    if (distance < 0)
        distance += kRingSize;
    const qint32 wanted = std::min<qint32>(slotCount, kRingSize - distance);
    const qint32 pageEndId = view_.pageEndId;
    history_->loadPage(ring_, pageEndId, wanted, [this, slotCount, wanted, pageEndId](auto rows) {
        if (!rows)
            qCDebug(lcTrend) << "page ending at" << pageEndId << "not readable";
        pageArrived(std::move(rows), slotCount, wanted);
    });
    return history_->answersLater() || lastPageReadable_;
}

void TrendModel::pageArrived(std::optional<QVector<HistoryRow>> rows, int slotCount, qint32 wanted)
{
    const bool late = history_->answersLater();
    lastPageReadable_ = rows.has_value();
    if (pageRead_)
        pageRead_(lastPageReadable_);
    if (!rows && late) {
        // The old page stays rather than flat curves while a server is away.
        finishLate(false);
        return;
    }
    // Live samples the display tick appended while the page was on its way
    // come after it.
    struct Kept {
        double date, time;
        float pv, op, sv;
    };
    QVector<Kept> appended;
    if (late && view_.liveView()) {
        for (int s = kLivePageSize + 1; s <= std::min<int>(view_.sampleCursor, kTrendSlots - 2); ++s)
            appended.append({buffer_.sampleDate[s], buffer_.sampleTime[s], buffer_.channelValue[TrendBuffer::PV][s],
                             buffer_.channelValue[TrendBuffer::OP][s], buffer_.channelValue[TrendBuffer::SV][s]});
    }

    clearTrendPage();
    for (int s = 0; s < kTrendSlots - 1; ++s)
        buffer_.gapMark[s] = 0;
    oldestSlot_ = 0;

    // The page's newest row takes its last slot, so a page that holds fewer
    // samples (a young history, the oldest end of the ring) shows them where
    // the page's time lies and leaves its first slots empty.
    const int filled = rows ? std::min<int>(rows->size(), wanted) : 0;
    const int first = slotCount - filled + 1;
    for (int n = 0; n < filled; ++n) {
        const HistoryRow& row = rows->at(n);
        const int i = first + n;
        buffer_.sampleDate[i] = row.date;
        buffer_.sampleTime[i] = row.time;
        buffer_.channelValue[TrendBuffer::PV][i] = row.pv;
        buffer_.channelValue[TrendBuffer::OP][i] = row.op;
        buffer_.channelValue[TrendBuffer::SV][i] = row.sv;
    }
    for (int i = 1; i <= slotCount; ++i) {
        // Times of day only: the first sample after midnight is marked too,
        // and so is the first sample after empty slots.
        if (std::abs(buffer_.sampleTime[i] - buffer_.sampleTime[i - 1]) > kGapThreshold)
            buffer_.gapMark[i] = qint16(i);
    }
    // Fewer rows than slots: nothing older is stored (our recorder leaves
    // no holes in a ring).
    if (rows && filled < slotCount)
        oldestSlot_ = qint16(first);

    for (int n = 0; n < appended.size(); ++n) {
        const int s = kLivePageSize + 1 + n;
        const Kept& k = appended[n];
        buffer_.sampleDate[s] = k.date;
        buffer_.sampleTime[s] = k.time;
        buffer_.channelValue[TrendBuffer::PV][s] = k.pv;
        buffer_.channelValue[TrendBuffer::OP][s] = k.op;
        buffer_.channelValue[TrendBuffer::SV][s] = k.sv;
    }
    if (late)
        finishLate(true);
}

void TrendModel::finishLate(bool pageLoaded)
{
    TrendCommandResult result;
    result.pageLoaded = pageLoaded;
    if (deferredOlder_ > 0) {
        // Now the shown page tells whether there is room for an older one.
        const int more = deferredOlder_ - 1;
        deferredOlder_ = 0;
        const TrendCommandResult older = olderPage();
        if (history_->waiting())
            deferredOlder_ = more; // the rest wait for that page in turn
        result.tick = older.tick;
    }
    if (lateResult_)
        lateResult_(result);
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

void TrendModel::startLivePage()
{
    view_.pageEndId = view_.newestId;
    view_.pageSize = kLivePageSize;
    view_.sampleCursor = kLivePageSize;
    history_->newestId(ring_, [this](std::optional<qint32> id) {
        if (id)
            view_.newestId = *id;
        else
            qCDebug(lcTrend) << "newest id not readable; keeping" << view_.newestId;
        view_.pageEndId = view_.newestId;
        loadTrendPage();
    });
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

qint32 TrendModel::pageDistance(qint32 pagesBack)
{
    // The first older page ends at the newest sample: on zoom level 1 a paged
    // view shows only slots 181 to 261 of its 321, so it then reaches up to
    // the live view's first sample, and each further page overlaps the last.
    return kPageStep * (pagesBack - 1);
}

bool TrendModel::oldestOnScreen() const
{
    // Zoom level 1 shows the fewest old slots; what it shows, every level shows.
    return oldestSlot_ >= kZoomTable[0].firstSlot + TrendGeometry::kSlotAtOrigin;
}

void TrendModel::loadPageBack(qint32 distance)
{
    view_.pageSize = kPagedPageSize;
    view_.pageEndId = idsBack(view_.newestId, distance);
    view_.sampleCursor = kPagedPageSize;
    loadTrendPage();
}

TrendCommandResult TrendModel::olderPage()
{
    TrendCommandResult result;
    if (history_->waiting()) {
        // Whether there is room for it depends on the page on its way.
        ++deferredOlder_;
        result.tick = TickRequest::Stop;
        enabling_.newer = true;
        return result;
    }
    ++nav_.pagesBack;
    view_.pageSize = kPagedPageSize;
    if (nav_.pagesBack >= 1) {
        result.tick = TickRequest::Stop;
        enabling_.newer = true;
    }
    const qint32 distance = pageDistance(nav_.pagesBack);
    if (oldestOnScreen() || distance >= kRingSize) {
        // The oldest stored sample is already on screen: keep the chart.
        enabling_.older = false;
        nav_.olderBlocked = true;
        return result;
    }
    loadPageBack(distance);
    result.pageLoaded = true;
    return result;
}

void TrendModel::enterLiveView()
{
    nav_.pagesBack = 0;
    deferredOlder_ = 0;
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
    if (deferredOlder_ > 0) {
        // Takes back an older page that was still waiting.
        --deferredOlder_;
        if (deferredOlder_ == 0 && nav_.pagesBack == 0) {
            enabling_.newer = false;
            result.tick = nav_.rulerOn ? TickRequest::None : TickRequest::Restart;
        }
        return result;
    }
    if (nav_.pagesBack <= 0)
        return result;
    --nav_.pagesBack;
    view_.pageSize = kPagedPageSize;
    if (nav_.pagesBack == 0) {
        enterLiveView();
        result.pageLoaded = true;
        // The ruler keeps the display frozen; switching it off restarts it.
        result.tick = nav_.rulerOn ? TickRequest::None : TickRequest::Restart;
        return result;
    }
    loadPageBack(pageDistance(nav_.pagesBack));
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
    if (position == TrendGeometry::kRulerMax && newerAllowed())
        move.command = newerPage();
    rulerLine_ = {true, kRulerMovedColour, position, 0, TrendGeometry::kScaleHeight};
    move.slot = TrendGeometry::rulerSlot(position, view_.sampleStep, view_.firstSlot);
    return move;
}

bool TrendModel::jumpToId(qint32 id, std::function<void(const Jump&)> done)
{
    if (id < 1 || id > kRingSize)
        return false;
    deferredOlder_ = 0;
    history_->newestId(ring_, [this, id, done = std::move(done)](std::optional<qint32> newest) {
        if (newest)
            view_.newestId = *newest;
        else
            qCDebug(lcTrend) << "newest id not readable; keeping" << view_.newestId;
        done(decideJump(id));
    });
    return true;
}

std::optional<TrendModel::Jump> TrendModel::jumpToId(qint32 id)
{
    auto out = std::make_shared<std::optional<Jump>>();
    jumpToId(id, [out](const Jump& jump) { *out = jump; });
    return *out;
}

TrendModel::Jump TrendModel::decideJump(qint32 id)
{
    qint32 distance = view_.newestId - id;
    if (distance < 0)
        distance += kRingSize;
    Jump jump;
    if (distance <= kPageStep) {
        // Among the newest 61: the live view shows it on every level.
        enterLiveView();
        jump.slot = qint16(kLivePageSize - distance);
    } else {
        // Zoom level 1 shows slots 181 to 261 of a paged view, the data area
        // up to 241: take the grid page that puts the sample there, i.e.
        // 80 to 140 samples before its end (60 to 140 for the first page).
        constexpr qint32 farthest = kPagedPageSize - (kZoomTable[0].firstSlot + TrendGeometry::kSlotAtOrigin);
        const qint32 pagesBefore = std::max<qint32>(0, (distance - farthest + kPageStep - 1) / kPageStep);
        nav_.pagesBack = qint16(pagesBefore + 1);
        nav_.olderBlocked = false;
        enabling_.older = true;
        enabling_.newer = true;
        loadPageBack(pageDistance(nav_.pagesBack));
        jump.slot = qint16(kPagedPageSize - (distance - pageDistance(nav_.pagesBack)));
    }
    nav_.rulerOn = true;
    enabling_.slider = true;
    jump.rulerPosition =
        TrendGeometry::pointX(jump.slot - view_.firstSlot - TrendGeometry::kSlotAtOrigin, view_.sampleStep);
    rulerLine_ = {true, kRulerMovedColour, jump.rulerPosition, 0, TrendGeometry::kScaleHeight};
    jump.command.pageLoaded = true;
    jump.command.tick = TickRequest::Stop;
    return jump;
}

bool TrendModel::appendLiveSample(float pv, float op, float sv, const OleStamp& stamp)
{
    ++view_.sampleCursor;
    bool newPage = false;
    // ">=" rather than "==": zooming in while the run-on area is fuller than
    // the new level allows must start a new page, not run off the buffer.
    if (view_.sampleCursor >= kLivePageSize + 20 * view_.zoomLevel) {
        // The page load clears the buffer when the page is there.
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
