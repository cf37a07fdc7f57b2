#pragma once

#include <string_view>

namespace norva {

// The window's fixed captions that the engine and the operator's commands set or compare. They
// live here rather than with the window so that the protocol code needs nothing of app/.
inline constexpr std::string_view kNoLinkCaption = "No Link";
inline constexpr std::string_view kLinkingNowCaption = "Linking Now";
inline constexpr std::string_view kLinkingStatusText = "Linking";
inline constexpr std::string_view kEnableBaCaption = "Enable BA";
inline constexpr std::string_view kDisableBaCaption = "Disable BA";
// What the window's notice and norva-cli say when the port does not open.
inline constexpr std::string_view kPortOpenErrorText = "The COMPort open error !";

// Status bar panel that shows the link state.
inline constexpr int kLinkStatusPanel = 2;

}  // namespace norva
