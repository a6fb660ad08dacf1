#pragma once
#include "HistoryTypes.h"
#include "StationClock.h"
#include "TrendBuffer.h"
#include "TrendHistory.h"

#include <QColor>
#include <array>
#include <functional>
#include <memory>
#include <optional>

// Which page a trend window shows and how it lays it out.
struct TrendViewState {
    qint16 zoomLevel = 1;                // ZoomLevel 1..4: the data area shows 60 x ZoomLevel samples
    float sampleStep = 150.0f;           // SampleStep: chart units between two adjacent samples
    qint16 firstSlot = 180;              // FirstSlot: slot just before the first plotted sample
    qint16 sampleCursor = kLivePageSize; // SampleCursor: slot of the newest sample
    qint32 pageSize = kLivePageSize;     // PageSize: rows a page load reads
    qint32 newestId = 0;                 // NewestId: newest id of the ring when the live page started
    qint32 pageEndId = 0;                // PageEndId: newest id of the page to load

    // Below 320 rows the page is the live view, whose time labels 7 and 8 are
    // extrapolated because live samples have yet to fill their slots.
    bool liveView() const { return pageSize < 320; }
};

struct TrendNavState {
    qint16 pagesBack = 0;      // PagesBack: pages of 60 samples back from NewestId; 0 = live
    bool olderBlocked = false; // OlderBlocked: no room for another older page
    bool rulerOn = false;      // RulerOn
};

// Which commands are enabled: Command3, Command4, Command7, Command8 and hc.
struct TrendEnabling {
    bool zoomIn = false;
    bool zoomOut = true;
    bool newer = false;
    bool older = true;
    bool slider = false;
};

// Line1, the ruler line on the chart, in chart units.
struct RulerLine {
    bool visible = false;
    QColor colour;
    qint32 x = 0;
    qint32 yTop = 0;
    qint32 yBottom = 0;
};

struct ZoomRow {
    qint16 zoomLevel;
    float sampleStep;
    qint16 firstSlot;
};
// The newest slot of a live page (241) lands at x = 9000 on every level.
inline constexpr std::array<ZoomRow, 4> kZoomTable{{
    {1, 150.0f, 180},
    {2, 75.0f, 120},
    {3, 50.0f, 60},
    {4, 37.5f, 0},
}};

// The owner of the display tick (the host window's 200 ms timer) is asked to
// stop it while the view is frozen on a page or the ruler, and to restart it.
enum class TickRequest { None, Stop, Restart };

struct TrendCommandResult {
    bool pageLoaded = false;
    TickRequest tick = TickRequest::None;
};

// Buffer, view and navigation state of one trend window and the commands that
// change them. No widgets: the view applies the results.
//
// A command decides the view and navigation state at once. Its page reaches
// the buffer when the history answers: before the command returns with a
// HistorySource, later with a history that answers later (a server); the
// buffer then keeps the old page meanwhile, a newer command supersedes the
// page on its way, and the late page is announced through the late-result
// handler. An older page asked for while a page is on its way waits for it:
// whether there is room for it depends on that page.
class TrendModel {
public:
    TrendModel(HistoryRing ring, HistorySource* source);
    TrendModel(HistoryRing ring, std::unique_ptr<TrendHistory> history);

    HistoryRing ring() const { return ring_; }
    HistorySource* source() const { return history_->source(); }
    TrendHistory& history() const { return *history_; }
    // A page (or the newest id it needs) is on its way.
    bool waiting() const { return history_->waiting(); }
    // Called when a page (or a waiting older-page command) lands after its
    // command returned.
    void setLateResultHandler(std::function<void(const TrendCommandResult&)> handler)
    {
        lateResult_ = std::move(handler);
    }

    // Called with every page that arrives: whether the history could be read.
    void setPageReadHandler(std::function<void(bool)> handler) { pageRead_ = std::move(handler); }

    const TrendBuffer& buffer() const { return buffer_; }
    const TrendViewState& view() const { return view_; }
    const TrendNavState& nav() const { return nav_; }
    const TrendEnabling& enabling() const { return enabling_; }
    const RulerLine& rulerLine() const { return rulerLine_; }

    // The window-load sequence: everything to its load-time value, zoom 1,
    // then the live page.
    void load();

    // ClearTrendPage: dates, times and channels 0..8 of slots 0..321 to 0.
    void clearTrendPage();
    // LoadTrendPage: PageSize rows ending at PageEndId into slots 1..PageSize
    // with their gap marks. False when the history could not be read: the
    // old page then stays (without any history the buffer stays cleared and
    // the curves lie at 0).
    bool loadTrendPage();
    // ApplyZoomLevel: SampleStep and FirstSlot from the zoom table.
    void applyZoomLevel();
    // StartLivePage: newest id from the history (kept when unreadable), page
    // settings of the live view, LoadTrendPage.
    void startLivePage();

    // Zoom in (F2, Command3) and out (F1, Command4); false at the limit.
    bool zoomIn();
    bool zoomOut();
    // One page older (F7, Command8) and newer (F6, Command7).
    TrendCommandResult olderPage();
    TrendCommandResult newerPage();
    // Whether F6 has something to do: a page back, or an older page waiting.
    bool newerAllowed() const { return nav_.pagesBack > 0 || deferredOlder_ > 0; }
    // F4, Command5.
    TrendCommandResult setRuler(bool on);
    struct RulerMove {
        TrendCommandResult command; // when the slider's end turned the page
        qint16 slot = 0;            // slot read out under the line
    };
    // hc_Change with the slider at `position` (-1..12001).
    RulerMove moveRuler(qint32 position);
    struct Jump {
        TrendCommandResult command;
        qint16 slot = 0;          // the chosen sample's slot
        qint32 rulerPosition = 0; // slider position of the ruler on it
    };
    // F5's time jump: the page on the paging grid that shows stored sample
    // `id` on every zoom level (the live view when it is among the newest
    // 61), with the ruler switched on and put on it. Nothing happens for an
    // id outside the ring. The jump is decided once the newest id is known:
    // `done` gets it then (false: id outside the ring, `done` never runs).
    bool jumpToId(qint32 id, std::function<void(const Jump&)> done);
    // The same for a history that answers at once (nothing when it does not).
    std::optional<Jump> jumpToId(qint32 id);

    // Slot of the oldest stored sample when the loaded page holds it, else 0.

    // The display tick's live sample; true when it started a new live page.
    bool appendLiveSample(float pv, float op, float sv, const OleStamp& stamp);

    // Test hook: put the buffer and view into a given state.
    TrendViewState& viewForTest() { return view_; }

private:
    void pageArrived(std::optional<QVector<HistoryRow>> rows, int slotCount, qint32 wanted);
    void finishLate(bool pageLoaded);
    Jump decideJump(qint32 id);
    void enterLiveView();
    void loadPageBack(qint32 distance);
    bool oldestOnScreen() const;
    static qint32 idsBack(qint32 newestId, qint32 distance);
    static qint32 pageDistance(qint32 pagesBack);

    HistoryRing ring_;
    std::unique_ptr<TrendHistory> history_;
    std::function<void(const TrendCommandResult&)> lateResult_;
    std::function<void(bool)> pageRead_;
    int deferredOlder_ = 0; // older-page commands waiting for the page on its way
    bool lastPageReadable_ = false;
    TrendBuffer buffer_;
    TrendViewState view_;
    TrendNavState nav_;
    TrendEnabling enabling_;
    RulerLine rulerLine_;
    qint16 oldestSlot_ = 0;
};
