#pragma once

#include <string_view>

#include "protocol/window_captions.h"
#include "serial/port_name.h"

namespace norva {

// The main window's fixed facts that its code and its tests share. The captions the engine
// sets come from protocol/window_captions.h, through this header as well.

// The window's caption; the application title is it with a blank after it.
inline constexpr std::string_view kWindowCaption = "Norva Protocol";

// Status bar panels, counted from 0 at the left.
inline constexpr int kPortStatusPanel = 1;
inline constexpr int kTitleStatusPanel = 3;  // kLinkStatusPanel is panel 2
// What the title panel shows, and shows again once a passing message has had its time.
inline constexpr std::string_view kTitlePanelText = kWindowCaption;
// The version panel's text: the window's own, apart from the programs' version.
inline constexpr std::string_view kVersionPanelText = "1.0.0.0";

}  // namespace norva
