#include "PortPanel.h"
#include "NumericPrefix.h"
#include "Rounding.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace {
QGroupBox* frame(const QString& name, const QString& title, QWidget* parent)
{
    auto* box = new QGroupBox(title, parent);
    box->setObjectName(name);
    return box;
}

QHBoxLayout* compactRow(QWidget* frame)
{
    auto* row = new QHBoxLayout(frame);
    row->setContentsMargins(6, 2, 6, 4);
    row->setSpacing(6);
    return row;
}

int leadingNumber(const QString& text) { return roundHalfEven32(numericPrefix(text)).value_or(0); }
} // namespace

PortPanel::PortPanel(const PortMap& ports, QWidget* parent) : QWidget(parent), ports_(ports)
{
    setObjectName(QStringLiteral("PortPanel"));
    auto* layout = new QGridLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);

    portFrame_ = frame(QStringLiteral("Frame6"), tr("通讯端口选择"), this);
    portList_ = new QComboBox(portFrame_);
    portList_->setObjectName(QStringLiteral("Combo1"));
    device_ = new QLabel(portFrame_);
    device_->setObjectName(QStringLiteral("PortDevice"));
    device_->setStyleSheet(QStringLiteral("color: #555;"));
    auto* portLayout = compactRow(portFrame_);
    portLayout->addWidget(new QLabel(tr("通讯端口"), portFrame_));
    portLayout->addWidget(portList_, 1);
    portLayout->addWidget(device_);

    addressFrame_ = frame(QStringLiteral("Frame5_0"), tr("模块地址"), this);
    addressList_ = new QComboBox(addressFrame_);
    addressList_->setObjectName(QStringLiteral("Combo2"));
    auto* addressLayout = compactRow(addressFrame_);
    addressLayout->addWidget(new QLabel(tr("模块地址"), addressFrame_));
    addressLayout->addWidget(addressList_, 1);

    baudFrame_ = frame(QStringLiteral("Frame2_1"), tr("波特率"), this);
    auto* baudLayout = compactRow(baudFrame_);
    auto* baudGroup = new QButtonGroup(this);
    for (int i = 0; i < int(kBaudRates.size()); ++i) {
        baud_[i] = new QRadioButton(QString::number(kBaudRates[std::size_t(i)]), baudFrame_);
        baud_[i]->setObjectName(QStringLiteral("Option1_%1").arg(i));
        baudGroup->addButton(baud_[i], i);
        baudLayout->addWidget(baud_[i]);
    }

    parityFrame_ = frame(QStringLiteral("Frame5_1"), tr("校验方式"), this);
    auto* parityLayout = compactRow(parityFrame_);
    auto* parityGroup = new QButtonGroup(this);
    const QString parityTexts[3] = {tr("无校验"), tr("奇校验"), tr("偶校验")};
    for (int i = 0; i < 3; ++i) {
        parity_[i] = new QRadioButton(parityTexts[i], parityFrame_);
        parity_[i]->setObjectName(QStringLiteral("Option2_%1").arg(i));
        parityGroup->addButton(parity_[i], i);
        parityLayout->addWidget(parity_[i]);
    }

    openButton_ = new QPushButton(tr("打开"), this);
    openButton_->setObjectName(QStringLiteral("Command9"));
    closeButton_ = new QPushButton(tr("关闭"), this);
    closeButton_->setObjectName(QStringLiteral("Command10"));

    // One column: the panel sits in the narrow column beside the trend.
    layout->addWidget(portFrame_, 0, 0);
    layout->addWidget(addressFrame_, 1, 0);
    layout->addWidget(baudFrame_, 2, 0);
    layout->addWidget(parityFrame_, 3, 0);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(openButton_);
    buttons->addWidget(closeButton_);
    layout->addLayout(buttons, 4, 0);

    connect(portList_, &QComboBox::currentIndexChanged, this, &PortPanel::showDevice);
    resetToDefaults();
}

void PortPanel::resetToDefaults()
{
    portList_->clear();
    for (int n = 1; n <= 20; ++n)
        portList_->addItem(QStringLiteral("%1 ").arg(n));
    portList_->setCurrentIndex(0);
    baud_[kDefaultBaudIndex]->setChecked(true);
    parity_[0]->setChecked(true);
    addressList_->clear();
    for (int n = 1; n <= 16; ++n)
        addressList_->addItem(QStringLiteral("%1 ").arg(n));
    addressList_->setCurrentIndex(0);
    setFramesVisible(true);
    showDevice();
}

PortSettings PortPanel::settingsShown() const
{
    PortSettings s;
    s.port = leadingNumber(portList_->currentText());
    for (int i = 0; i < int(kBaudRates.size()); ++i)
        if (baud_[i]->isChecked())
            s.baudIndex = i;
    for (int i = 0; i < 3; ++i)
        if (parity_[i]->isChecked())
            s.parityIndex = i;
    s.address = leadingNumber(addressList_->currentText());
    return s;
}

void PortPanel::preselect(int port, int address, int baudIndex, int parityIndex)
{
    if (port >= 1 && port <= 20)
        portList_->setCurrentIndex(port - 1);
    if (address >= 1 && address <= 16)
        addressList_->setCurrentIndex(address - 1);
    if (baudIndex >= 0 && baudIndex < int(kBaudRates.size()))
        baud_[baudIndex]->setChecked(true);
    if (parityIndex >= 0 && parityIndex <= 2)
        parity_[parityIndex]->setChecked(true);
}

void PortPanel::lockAddress(int address)
{
    if (address < 1 || address > 16)
        return;
    addressList_->setCurrentIndex(address - 1);
    addressList_->setEnabled(false);
}

void PortPanel::setFramesVisible(bool visible)
{
    for (QWidget* w : {static_cast<QWidget*>(baudFrame_), static_cast<QWidget*>(addressFrame_),
                       static_cast<QWidget*>(parityFrame_), static_cast<QWidget*>(portFrame_)})
        w->setVisible(visible);
}

void PortPanel::showDevice()
{
    const QString device = ports_.deviceFor(leadingNumber(portList_->currentText()));
    device_->setText(device.section(u'/', -1));
    device_->setToolTip(tr("串口设备：%1").arg(device));
    portList_->setToolTip(device_->toolTip());
}
