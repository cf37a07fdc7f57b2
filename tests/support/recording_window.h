#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "protocol/engine_window.h"
#include "protocol_tables.h"

// A stand-in for the main window where no widgets are wanted: it keeps the state the engine
// reads, reduces display values like the real digit panels, and records every change and every
// byte sent, in order, as short texts.
class RecordingWindow : public norva::EngineWindow {
public:
    RecordingWindow() {
        for (int n = 1; n <= 16; ++n)
            captions[n - 1] = std::to_string(n);
        ticks.fill(false);
        ticks[0] = ticks[1] = ticks[2] = true;
    }

    norva::ByteSender Sender() {
        return [this](std::uint8_t b) {
            char text[16];
            std::snprintf(text, sizeof text, "send %02X", b);
            events.push_back(text);
            sent.push_back(b);
            return true;
        };
    }

    void AppendLogLine(std::string_view line) override {
        log.emplace_back(line);
        events.push_back("log " + std::string(line));
    }
    void SetLinkIndicator(std::string_view caption, std::uint32_t rgb) override {
        linkCaption = caption;
        linkColour = rgb;
        events.push_back("link " + std::string(caption));
    }
    void SetStatusText(int panel, std::string_view text) override {
        status[panel] = text;
        events.push_back("status " + std::to_string(panel) + " " + std::string(text));
    }
    std::string EnableButtonCaption() const override { return enableCaption; }
    void SetEnableButtonCaption(std::string_view caption) override {
        enableCaption = caption;
        events.push_back("caption " + enableCaption);
    }
    void SetAcceptEnabled(bool enabled) override {
        acceptEnabled = enabled;
        events.push_back(enabled ? "accept on" : "accept off");
    }
    void SetRejectEnabled(bool enabled) override {
        rejectEnabled = enabled;
        events.push_back(enabled ? "reject on" : "reject off");
    }
    void SetDisplayValue(norva::Display display, std::int32_t value) override {
        const int i = static_cast<int>(display);
        static constexpr std::int64_t kModulus[] = {1000, 100000, 100000000};
        const std::int64_t magnitude = value < 0 ? -std::int64_t{value} : value;
        displays[i] = static_cast<std::int32_t>(magnitude % kModulus[i]);
        events.push_back("display " + std::to_string(i + 1) + " " + std::to_string(displays[i]));
    }
    std::int32_t DisplayValue(norva::Display display) const override {
        return displays[static_cast<int>(display)];
    }
    bool ChannelTicked(int channel) const override { return ticks[channel - 1]; }
    std::string ChannelCaption(int channel) const override { return captions[channel - 1]; }
    int EscrowSetting() const override { return escrowSetting; }
    void ShowTransientProblem(std::string_view text) override {
        problems.emplace_back(text);
        events.push_back("problem " + std::string(text));
    }

    void ClearRecords() {
        events.clear();
        log.clear();
        sent.clear();
        problems.clear();
    }

    std::vector<std::string> events;
    std::vector<std::string> log;
    std::vector<std::uint8_t> sent;
    std::vector<std::string> problems;
    std::array<bool, 16> ticks{};
    std::array<std::string, 16> captions;
    int escrowSetting = 0;
    std::array<std::int32_t, 3> displays{};
    std::array<std::string, 6> status{
        "PORT", "", std::string(protocol_tables::kNoLink), "Norva Protocol", "Version", "1.0.0.0"};
    std::string linkCaption{protocol_tables::kNoLink};
    std::uint32_t linkColour = 0xFF0000;
    std::string enableCaption{protocol_tables::kDisableBa};
    bool acceptEnabled = false;
    bool rejectEnabled = false;
};
