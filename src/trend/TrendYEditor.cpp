#include "TrendYEditor.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

TrendYEditor::TrendYEditor(QHBoxLayout* layout, QWidget* parent, bool minBoxShown, TrendScale& scale)
    : QObject(parent), scale_(scale), minBoxShown_(minBoxShown)
{
    maxCaption_ = new QLabel(tr("Y最大"), parent);
    maxCaption_->setObjectName(QStringLiteral("Label9"));
    max_ = new QLineEdit(parent);
    max_->setObjectName(QStringLiteral("YKD"));
    minCaption_ = new QLabel(tr("Y最小"), parent);
    minCaption_->setObjectName(QStringLiteral("Label10"));
    min_ = new QLineEdit(QStringLiteral("0"), parent);
    min_->setObjectName(QStringLiteral("YKD1"));
    apply_ = new QPushButton(tr("修改Y"), parent);
    apply_->setObjectName(QStringLiteral("Command26"));
    apply_->setAutoDefault(false);
    const int boxWidth = max_->fontMetrics().horizontalAdvance(QStringLiteral("-000000")) + 12;
    for (QLineEdit* box : {max_, min_})
        box->setFixedWidth(boxWidth);
    for (QWidget* w : std::initializer_list<QWidget*>{maxCaption_, max_, minCaption_, min_, apply_}) {
        layout->addWidget(w);
        w->hide();
    }
    connect(apply_, &QPushButton::clicked, this, &TrendYEditor::apply);
}

void TrendYEditor::open()
{
    maxCaption_->show();
    max_->show();
    if (minBoxShown_) {
        minCaption_->show();
        min_->show();
    }
    apply_->show();
}

void TrendYEditor::close()
{
    for (QWidget* w : std::initializer_list<QWidget*>{maxCaption_, max_, minCaption_, min_, apply_})
        w->hide();
}

void TrendYEditor::apply()
{
    const auto scale = trendScaleFromEntries(max_->text(), min_->text());
    if (!scale)
        return; // refused silently; the editor stays open
    scale_ = *scale;
    close();
    emit scaleChanged();
}
