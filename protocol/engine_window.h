#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "protocol/window_captions.h"

namespace norva {

// The three digit displays of the main window.
enum class Display { NoteCount, Escrow, Credit };

// What the engine and the operator's commands need of the main window. Every call happens on
// the window's thread, in the order the protocol demands.
class EngineWindow {
public:
    virtual ~EngineWindow() = default;

    virtual void AppendLogLine(std::string_view line) = 0;
    // The link label's caption and background (0xRRGGBB).
    virtual void SetLinkIndicator(std::string_view caption, std::uint32_t rgb) = 0;
    virtual void SetStatusText(int panel, std::string_view text) = 0;
    virtual std::string EnableButtonCaption() const = 0;
    virtual void SetEnableButtonCaption(std::string_view caption) = 0;
    virtual void SetAcceptEnabled(bool enabled) = 0;
    virtual void SetRejectEnabled(bool enabled) = 0;
    virtual void SetDisplayValue(Display display, std::int32_t value) = 0;
    virtual std::int32_t DisplayValue(Display display) const = 0;
    // Channel 1..16: its tick box and its caption (UTF-8).
    virtual bool ChannelTicked(int channel) const = 0;
    virtual std::string ChannelCaption(int channel) const = 0;
    // The escrow setting: 0 "Escrow", 1 "No Escrow", -1 none selected.
    virtual int EscrowSetting() const = 0;
    // A problem the operator should see without a modal box, reception going on.
    virtual void ShowTransientProblem(std::string_view text) = 0;
    // The line appended last stands for a command byte that did not go out. Only shown: no
    // command acts on it.
    virtual void LastLineNotWritten() {}
};

// Writes one command byte to the port; true when it went out. No command acts on the result;
// the log notes a byte that did not go out.
using ByteSender = std::function<bool(std::uint8_t)>;

}  // namespace norva
