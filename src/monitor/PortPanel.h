#pragma once
#include "PortSettings.h"

#include <QWidget>

class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QRadioButton;

// The settings panel of the main window: port, instrument address, baud rate
// and parity, and the "打开" / "关闭" buttons.
class PortPanel : public QWidget {
    Q_OBJECT
public:
    explicit PortPanel(const PortMap& ports, QWidget* parent = nullptr);

    // Lists filled and defaults selected: port "1 ", address "1 ", 9600, no parity.
    void resetToDefaults();
    // What the panel shows, read as the open action reads it.
    PortSettings settingsShown() const;
    // Preselects values (for --connect); out-of-range values are ignored.
    void preselect(int port, int address, int baudIndex, int parityIndex);
    void setFramesVisible(bool visible);
    // A loop on a line of several: its address is fixed while loops run.
    void lockAddress(int address);

    QPushButton* openButton() const { return openButton_; }
    QPushButton* closeButton() const { return closeButton_; }

private:
    void showDevice();

    const PortMap& ports_;
    QGroupBox* portFrame_ = nullptr;             // Frame6
    QGroupBox* addressFrame_ = nullptr;          // Frame5(0)
    QGroupBox* baudFrame_ = nullptr;             // Frame2(1)
    QGroupBox* parityFrame_ = nullptr;           // Frame5(1)
    QComboBox* portList_ = nullptr;              // Combo1
    QComboBox* addressList_ = nullptr;           // Combo2
    QRadioButton* baud_[kBaudRates.size()] = {}; // Option1(0..2)
    QRadioButton* parity_[3] = {};               // Option2(0..2)
    QLabel* device_ = nullptr;
    QPushButton* openButton_ = nullptr;  // Command9
    QPushButton* closeButton_ = nullptr; // Command10
};
