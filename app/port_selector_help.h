#pragma once

#include <QObject>
#include <functional>

#include "serial/device_discovery.h"

class QComboBox;
class QMenu;

namespace norva {

// The port selector's help: a tooltip on each item naming the device it opens and whether it is
// there, and a context menu that gives a present device to one of Com1..Com10 in ports.conf. The
// selector's items, its text and its change handling are left as they are.
class PortSelectorHelp : public QObject {
    Q_OBJECT

public:
    // problem shows a failure to write ports.conf.
    PortSelectorHelp(QComboBox* selector, std::function<void(const QString&)> problem);

    void RefreshTooltips();
    // The context menu: the line's own editing actions, then one submenu per present device.
    QMenu* CreateMenu();

    bool eventFilter(QObject* watched, QEvent* event) override;
    void SetDeviceRoots(DeviceRoots roots) { roots_ = std::move(roots); }

private:
    DeviceRoots roots_;
    QComboBox* selector_;
    QObject* view_;  // kept: the selector may be part-way through its destruction when it reports
    std::function<void(const QString&)> problem_;
};

}  // namespace norva
