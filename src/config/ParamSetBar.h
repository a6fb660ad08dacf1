#pragma once
#include "ParameterRestore.h"

#include <QWidget>
#include <functional>
#include <memory>

class LinkClient;
class WriteAudit;
class QProgressDialog;
class QPushButton;

// The configuration window's "备份", "比较" and "恢复": read the whole set
// fresh from the instrument, save it, compare it with a file, or write a
// file's chosen rows back and read everything again. All instrument traffic
// goes through the link (its thread) and all file work through the thread
// pool, so the window keeps answering; the buttons are disabled while one of
// them is at work.
class ParamSetBar : public QWidget {
    Q_OBJECT
public:
    explicit ParamSetBar(LinkClient& link, QWidget* parent = nullptr);
    ~ParamSetBar() override;
    // Restores are journalled like edits when the station has a journal.
    void setAudit(WriteAudit* audit) { audit_ = audit; }

    // Seams for the dialogs, so that the flow can be driven without them.
    enum class FileUse { Save, Open };
    std::function<QString(FileUse use, const QString& suggestion)> chooseFile;
    std::function<bool(const QString& question)> confirm;
    // Shows the differences; for a restore, returns the chosen registers
    // (nothing: cancelled).
    std::function<std::optional<QSet<int>>(bool restore, const QVector<ParameterSet::Difference>&, const QString&)>
        showDifferences;
    std::function<void(const QString& text, bool problem)> tell;

    void backup();
    void compare();
    void restore();

Q_SIGNALS:
    void finishedWork(); // any of the three is over, whatever its result

private:
    void readInstrument(std::function<void(const ParameterSet::Values&)> then);
    void loadFile(std::function<void(const ParameterSet::File&)> then);
    void startRestore(const ParameterSet::File& file, const ParameterSet::Values& instrument);
    void finishRestore(const ParameterSet::Report& report);
    void setBusy(bool busy);
    void done(const QString& text, bool problem);

    LinkClient& link_;
    WriteAudit* audit_ = nullptr;
    QPushButton* backupButton_ = nullptr;
    QPushButton* compareButton_ = nullptr;
    QPushButton* restoreButton_ = nullptr;
    bool busy_ = false;
    std::unique_ptr<ParameterSet::Target> target_;
    ParameterSet::RestoreRunner* runner_ = nullptr;
    QProgressDialog* progress_ = nullptr;
};
