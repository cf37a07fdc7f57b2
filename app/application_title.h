#pragma once

#include <QString>

namespace norva {

// The title of the task-bar entry and of every message box; the main window's own caption has
// no trailing blank.
inline constexpr char kApplicationTitle[] = "Norva Protocol ";

// Kept as the application name, not the display name: Qt appends a display name to every window
// title on X11, which would spoil the main window's caption.
void SetApplicationTitle(const QString& title);
QString ApplicationTitle();

}  // namespace norva
