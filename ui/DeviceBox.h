#pragma once

#include <QComboBox>

// The station's choice of a device: every serial device present beside what
// it is, USB adapters offered by their hub socket's name too; a path may be
// typed in. Adapters come and go: the list is read again each time it opens.
class DeviceBox : public QComboBox {
public:
    explicit DeviceBox(QWidget* parent = nullptr);

    // Reads the devices present again, keeping what was typed.
    void Fill();
    void showPopup() override;
};
