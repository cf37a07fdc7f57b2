#include "app/application_title.h"

#include <QCoreApplication>

namespace norva {

void SetApplicationTitle(const QString& title) {
    QCoreApplication::setApplicationName(title);
}

QString ApplicationTitle() {
    return QCoreApplication::applicationName();
}

}  // namespace norva
