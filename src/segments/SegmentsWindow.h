#pragma once
#include "SegmentFields.h"

#include <QVector>
#include <QWidget>
#include <array>
#include <span>

class LinkClient;
class WriteAudit;
struct WriteLabel;
class QComboBox;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;
class QTimer;
struct ReadResult;

// The window for the instrument's ten output segments, its grouping switch
// and its five PID groups ("PID1"). It reads its own register blocks once a
// second and writes a single register when the operator leaves an edited
// box. It never shows or hides other windows: "返回" and the close box only
// emit returnRequested(), and whoever opened the window takes it from there.
class SegmentsWindow : public QWidget {
    Q_OBJECT
public:
    static constexpr int kRefreshIntervalMs = 1000;

    explicit SegmentsWindow(LinkClient& link, QWidget* parent = nullptr);
    ~SegmentsWindow() override;
    // Writes and refused entries are journalled through `audit` when set.
    void setAudit(WriteAudit* audit) { audit_ = audit; }

    // Starts one refresh (the five block reads) as the timer does. Returns
    // false, and reads nothing, while the previous refresh is still pending.
    bool refreshNow();
    // Refreshes dropped because the previous one had not come back.

Q_SIGNALS:
    // "返回" was clicked or the window's close box was used. The window is
    // still in the middle of handling that click or close event: a receiver
    // that takes the window down must use deleteLater(), not delete.
    void returnRequested();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    struct Entry {
        QLineEdit* box = nullptr;
        SegmentMap::Field field;
        QString textAtFocus; // what the box held when it gained focus
    };
    struct ValueLabel {
        QLabel* label = nullptr;
        SegmentMap::Field field;
    };

    QWidget* buildSegmentsTab();
    QWidget* buildPidTab();
    QHBoxLayout* buildFieldGrid(QWidget* page, std::span<const SegmentMap::Column> columns, int rows,
                                SegmentMap::Field (*fieldAt)(int row, int column), int rowSpacing, int gap);
    QLabel* addValueLabel(const SegmentMap::Field& field, QWidget* page);
    QLineEdit* addEntry(const SegmentMap::Field& field, QWidget* page);
    void commitEntry(Entry& entry);
    void writeRegister(int holdingRegister, qint32 value, const WriteLabel& label);
    void writeSwitch();
    void requestReturn();
    void takeRefresh(const QVector<ReadResult>& results);
    void showWords();
    void applyFieldWidths();

    LinkClient& link_;
    WriteAudit* audit_ = nullptr;
    QTabWidget* tabs_ = nullptr;
    QLabel* switchLabel_ = nullptr;
    QComboBox* switchChoice_ = nullptr;
    QPushButton* switchButton_ = nullptr;
    QPushButton* returnButton_ = nullptr;
    QTimer* refreshTimer_ = nullptr;
    QVector<ValueLabel> labels_;
    QVector<Entry> entries_;

    std::array<qint32, SegmentMap::kSegmentWords> segmentWords_{};
    std::array<qint32, SegmentMap::kPidWords> pidWords_{};
    // A block never read shows nothing rather than zeros the instrument never sent.
    std::array<bool, SegmentMap::kRefreshReads.size()> blockSeen_{};
    int skippedRefreshes_ = 0;
};
