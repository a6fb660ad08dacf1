#include "ParamDiffDialog.h"
#include "CommonTexts.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

using namespace ParameterSet;

ParamDiffDialog::ParamDiffDialog(Mode mode, const QVector<Difference>& differences, const QString& heading,
                                 QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("ParamDiff"));
    setWindowTitle(mode == Mode::Restore ? tr("恢复参数") : tr("比较参数"));

    table_ = new QTableWidget(int(differences.size()), 4, this);
    table_->setObjectName(QStringLiteral("DiffTable"));
    table_->setHorizontalHeaderLabels({tr("参数"), tr("仪表"), tr("文件"), tr("说明")});
    table_->verticalHeader()->hide();
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setSelectionMode(QAbstractItemView::NoSelection);
    for (int i = 0; i < differences.size(); ++i) {
        const Difference& d = differences[i];
        registers_.append(d.row->reg);
        auto* name = new QTableWidgetItem(shownCaption(*d.row));
        QString note;
        const EntryRule::Verdict verdict = editorVerdict(*d.row, d.file);
        if (!verdict.accepted())
            note = tr("不能写入：%1").arg(verdict.refusal);
        else if (d.row->linkSetting)
            note = tr("通讯设置：写入后须按新设置连接");
        if (mode == Mode::Restore) {
            Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsUserCheckable;
            if (!verdict.accepted())
                flags = Qt::ItemIsUserCheckable; // shown, but never checked
            name->setFlags(flags);
            name->setCheckState(verdict.accepted() && !d.row->linkSetting ? Qt::Checked : Qt::Unchecked);
        }
        table_->setItem(i, 0, name);
        table_->setItem(i, 1, new QTableWidgetItem(text(*d.row, d.instrument)));
        table_->setItem(i, 2, new QTableWidgetItem(text(*d.row, d.file)));
        table_->setItem(i, 3, new QTableWidgetItem(note));
    }
    table_->resizeColumnsToContents();
    table_->horizontalHeader()->setStretchLastSection(true);

    auto* buttons = new QDialogButtonBox(this);
    if (mode == Mode::Restore) {
        QPushButton* restore = buttons->addButton(tr("恢复选中项"), QDialogButtonBox::AcceptRole);
        restore->setObjectName(QStringLiteral("RestoreChecked"));
        buttons->addButton(CommonText::cancel(), QDialogButtonBox::RejectRole);
    } else {
        buttons->addButton(tr("关闭"), QDialogButtonBox::RejectRole);
    }
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    auto* title = new QLabel(heading, this);
    title->setWordWrap(true);
    layout->addWidget(title);
    layout->addWidget(table_, 1);
    layout->addWidget(buttons);
    resize(720, 480);
}

QSet<int> ParamDiffDialog::checkedRegisters() const
{
    QSet<int> out;
    for (int i = 0; i < registers_.size(); ++i)
        if (table_->item(i, 0)->checkState() == Qt::Checked && (table_->item(i, 0)->flags() & Qt::ItemIsEnabled))
            out.insert(registers_[i]);
    return out;
}

void ParamDiffDialog::setChecked(int reg, bool checked)
{
    const int i = int(registers_.indexOf(reg));
    if (i >= 0)
        table_->item(i, 0)->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
}
