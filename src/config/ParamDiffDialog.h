#pragma once
#include "ParameterSet.h"

#include <QDialog>

class QTableWidget;

// The differences between the instrument and a parameter-set file, one row
// each: caption, what the instrument shows, what the file holds, and a note.
// For a restore every row has a check box: differing rows start checked,
// except the instrument's address and line settings; rows the editor would
// refuse cannot be checked.
class ParamDiffDialog : public QDialog {
    Q_OBJECT
public:
    enum class Mode { Compare, Restore };

    ParamDiffDialog(Mode mode, const QVector<ParameterSet::Difference>& differences, const QString& heading,
                    QWidget* parent = nullptr);

    QSet<int> checkedRegisters() const;
    void setChecked(int reg, bool checked); // for tests and scripted use

private:
    QTableWidget* table_ = nullptr;
    QVector<int> registers_; // per table row
};
