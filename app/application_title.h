#pragma once

#include <QString>

#include "app/window_constants.h"

namespace norva {

// The title of the task-bar entry and of every message box: the main window's caption with a
// blank after it.
inline QString ApplicationTitleText() {
    return QString::fromUtf8(kWindowCaption.data(), qsizetype(kWindowCaption.size())) + u' ';
}

// Kept as the application name, not the display name: Qt appends a display name to every window
// title on X11, which would spoil the main window's caption.
void SetApplicationTitle(const QString& title);
QString ApplicationTitle();

}  // namespace norva
