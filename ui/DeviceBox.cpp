#include "ui/DeviceBox.h"

#include "port/Adapter.h"

#include <QHeaderView>
#include <QSerialPortInfo>
#include <QStandardItemModel>
#include <QTreeView>
#include <algorithm>

// The list shows each device beside what it is; choosing one puts only its
// name in the box.
DeviceBox::DeviceBox(QWidget* parent) : QComboBox(parent) {
    setModel(new QStandardItemModel(0, 2, this));
    auto* list = new QTreeView;
    list->setHeaderHidden(true);
    list->setRootIsDecorated(false);
    list->setAllColumnsShowFocus(true);
    list->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    setView(list);
    setEditable(true);
    setInsertPolicy(QComboBox::NoInsert);
    Fill();
}

// USB adapters as the ports listing names them, each offered by its hub
// socket's name first: a row added by socket is the same physical slot after
// a re-plug or a reboot, also for adapters without a serial number. Other
// serial ports follow under the system's name.
void DeviceBox::Fill() {
    const QString typed = currentText();
    auto* devices = static_cast<QStandardItemModel*>(model());
    devices->removeRows(0, devices->rowCount());
    int widest = 0; // a list cut short would hide what tells adapters apart
    const auto add = [&](const QString& device, const QString& what) {
        auto* name = new QStandardItem(device);
        name->setToolTip(what);
        devices->appendRow({name, new QStandardItem(what)});
        widest = std::max(widest, fontMetrics().horizontalAdvance(device + what));
    };
    QStringList listed;
    for (const Adapter& a : ListAdapters()) {
        if (!a.byPath.isEmpty())
            add(a.byPath, QStringLiteral("socket of ") + a.Describe());
        add(a.device, a.Describe());
        listed << a.device;
    }
    for (const QSerialPortInfo& p : QSerialPortInfo::availablePorts())
        if (!listed.contains(p.systemLocation()))
            add(p.systemLocation(), p.description());
    view()->setMinimumWidth(widest + 8 * fontMetrics().averageCharWidth());
    setEditText(typed);
}

// Read again as it opens: an adapter plugged in since shows.
void DeviceBox::showPopup() {
    Fill();
    QComboBox::showPopup();
}
