#pragma once
#include "ParamTable.h"

#include <QWidget>
#include <array>

#include "LinkTypes.h"

class LinkClient;
class WriteAudit;
struct WriteLabel;
class QComboBox;
class QGridLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTabWidget;
class QTimer;

// Window CONFIG1: shows the 39 configuration parameters, refreshed from the
// instrument every 500 ms, and writes one parameter at a time. A double click
// on a value label opens that row's editor and "修改" button; a modify click
// writes the edited value (refused entries leave the row open) and closes all
// rows. The value read back by the next refresh is what the label shows: the
// window never shows what it wrote, only what the instrument holds. Labels
// whose block could not be read keep their value on a grey background until
// a read succeeds again.
//
// The window never shows or hides other windows. "返回", Esc and the close
// box all emit returnRequested(); whoever opened the window is expected to
// delete it (deleteLater(), the signal may come from inside a click) and show
// the main window again.
class ConfigWindow : public QWidget {
    Q_OBJECT
public:
    static constexpr int kRefreshIntervalMs = 500;

    // `link` and `regs` must outlive the window; `regs` keeps the register
    // image from one opening to the next.
    ConfigWindow(LinkClient& link, ParamRegs& regs, QWidget* parent = nullptr);
    ~ConfigWindow() override;
    // Writes and refused entries are journalled through `audit` when set.
    void setAudit(WriteAudit* audit);

    // One refresh tick: five block reads of eight registers (4097..4136)
    // queued as one batch. Returns false, and counts a skipped tick, while the
    // previous tick's batch has not come back.
    bool refreshNow();

    // Closes every row: all editors and modify buttons hidden.
    void hideEditors();

Q_SIGNALS:
    void returnRequested();
    void tuningRequested(); // the PID page's tuning-assistant button

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Row {
        QLabel* value = nullptr;
        QWidget* editor = nullptr; // the combo box, number box or option frame
        QComboBox* combo = nullptr;
        QLineEdit* box = nullptr;
        std::array<QRadioButton*, 2> options{};
        QPushButton* modify = nullptr;
    };

    void buildUi();
    QWidget* buildPage(const ParamTable::PageLayout& layout);
    void buildRow(QGridLayout* grid, int gridRow, int firstColumn, int index);
    QWidget* buildEditor(const ParamTable::ParamDef& def, Row& row);
    void fillChoiceLists();

    void openRow(int index);
    void modify(int index);
    void writeRegister(int address, qint32 value, const WriteLabel& label);
    void applyReads(const QVector<ReadResult>& results);
    void updateLabels();

    LinkClient& link_;
    WriteAudit* audit_ = nullptr;
    class ParamSetBar* paramSetBar_ = nullptr;
    ParamRegs& regs_;
    std::array<Row, ParamTable::kCount> rows_{};
    QTabWidget* tabs_ = nullptr;
    QPushButton* returnButton_ = nullptr;
    QTimer* refreshTimer_ = nullptr;
    int skippedRefreshes_ = 0;
};
