#include "app/port_selector_help.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QEvent>
#include <QLineEdit>
#include <QMenu>

#include "serial/port_name.h"

namespace norva {

PortSelectorHelp::PortSelectorHelp(QComboBox* selector, std::function<void(const QString&)> problem)
    : QObject(selector),
      selector_(selector),
      view_(selector->view()),
      problem_(std::move(problem)) {
    RefreshTooltips();
    // Devices come and go: the tooltips are made afresh each time the list opens.
    view_->installEventFilter(this);
    if (QLineEdit* line = selector_->lineEdit()) {
        line->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(line, &QWidget::customContextMenuRequested, this, [this, line](const QPoint& at) {
            QMenu* menu = CreateMenu();
            menu->setAttribute(Qt::WA_DeleteOnClose);
            menu->popup(line->mapToGlobal(at));
        });
    }
}

void PortSelectorHelp::RefreshTooltips() {
    const Result<PortsConf> conf = ReadPortsConf();
    for (int i = 0; i < selector_->count(); ++i) {
        const QString label = selector_->itemText(i);
        const Result<PortDevice> device = DeviceForPort(label.toUpper().toStdString(), conf);
        if (!device.ok()) continue;
        std::string tip = PortDescription(label.toStdString(), device->path, roots_);
        // Why it opens its default although ports.conf may have meant another device.
        if (!device->warning.empty()) tip += "\n" + device->warning;
        selector_->setItemData(i, QString::fromStdString(tip), Qt::ToolTipRole);
    }
}

QMenu* PortSelectorHelp::CreateMenu() {
    QLineEdit* line = selector_->lineEdit();
    QMenu* menu = line != nullptr ? line->createStandardContextMenu() : new QMenu(selector_);
    menu->addSeparator();
    const std::vector<std::string> devices = PresentSerialDevices(roots_);
    if (devices.empty()) {
        menu->addAction(tr("No serial device found"))->setEnabled(false);
        return menu;
    }
    for (const std::string& device : devices) {
        const UsbAdapter usb = UsbAdapterOf(device, roots_);
        QString title = QString::fromStdString(device);
        if (!usb.product.empty())
            title += QStringLiteral(" (%1)").arg(QString::fromStdString(usb.product));
        QMenu* give = menu->addMenu(tr("Give %1 to").arg(title));
        for (unsigned n = 1; n <= unsigned(kPortCount); ++n) {
            give->addAction(QString::fromStdString(PortItemText(PortName(n))), this,
                            [this, n, device] {
                                const Outcome written = AssignPortInPortsConf(n, device);
                                if (!written.ok())
                                    problem_(QString::fromStdString(written.Describe()));
                                RefreshTooltips();
                            });
        }
    }
    return menu;
}

bool PortSelectorHelp::eventFilter(QObject* watched, QEvent* event) {
    if (watched == view_ && event->type() == QEvent::Show) RefreshTooltips();
    return QObject::eventFilter(watched, event);
}

}  // namespace norva
