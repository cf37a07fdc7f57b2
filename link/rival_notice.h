#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <QString>
#include <QTimer>
#include <memory>
#include <string>

#include "serial/rival_watch.h"

namespace norva {

// A RivalWatch on the thread of the link that holds the device: it wakes only when the node is
// opened, and looks in /proc then and a few times shortly after, never in between.
class RivalNotice : public QObject {
    Q_OBJECT

public:
    explicit RivalNotice(const std::string& devicePath, QObject* parent = nullptr);

signals:
    // "PATH: also opened by socat (pid 4711); bytes may go to it"
    void Noticed(const QString& text);

private:
    void Look();

    RivalWatch watch_;
    // Declared after the watch, so that it goes first, while the descriptor is still open.
    std::unique_ptr<QSocketNotifier> notifier_;
    QTimer again_;
    int looks_ = 0;
};

}  // namespace norva
