// The engine and the operator's commands fed arbitrary bytes, cut into blocks at points the
// fuzzer chooses, with the invariants checked after every step.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "protocol/engine.h"
#include "protocol/operator_commands.h"
#include "protocol/shared_state.h"
#include "protocol_tables.h"
#include "recording_window.h"

using namespace norva;

namespace {

void Fail(const char* what, const std::string& detail) {
    std::fprintf(stderr, "invariant broken: %s: %s\n", what, detail.c_str());
    std::abort();
}

bool IsHexPair(std::string_view s) {
    auto hex = [](char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); };
    return s.size() == 2 && hex(s[0]) && hex(s[1]);
}

// A line the protocol log may hold: a fixed send line, a received-code line of a handled code,
// or an escrow line with any channel byte. Written from the protocol's tables, not the code.
bool IsKnownLine(const std::string& line) {
    using protocol_tables::Reaction;
    const auto& sent = protocol_tables::kSentLines;
    if (std::find(sent.begin(), sent.end(), line) != sent.end()) return true;
    constexpr std::string_view kEscrow = "Receive [0x81][0x8F][0x";
    if (line.size() == kEscrow.size() + 3 && line.starts_with(kEscrow) && line.back() == ']') {
        return IsHexPair(std::string_view(line).substr(kEscrow.size(), 2));
    }
    for (int b = 0; b < 256; ++b) {
        const Reaction reaction = protocol_tables::ReactionTo(std::uint8_t(b));
        const bool logged = reaction != Reaction::None && reaction != Reaction::EscrowLead;
        if ((logged || b == 0x8F) && line == protocol_tables::ReceivedLine(std::uint8_t(b)))
            return true;
    }
    return false;
}

void CheckState(const RecordingWindow& w, std::size_t logBefore) {
    for (std::size_t i = logBefore; i < w.log.size(); ++i) {
        if (!IsKnownLine(w.log[i])) Fail("unknown log line", w.log[i]);
    }
    static constexpr std::int32_t kLimits[] = {999, 99999, 99999999};
    for (int i = 0; i < 3; ++i) {
        if (w.displays[i] < 0 || w.displays[i] > kLimits[i])
            Fail("display range", std::to_string(i));
    }
    for (int flag : {PollPermitted, EscrowPending, AwaitingDecision}) {
        if (flag != 0 && flag != 1) Fail("flag", std::to_string(flag));
    }
    if (w.enableCaption != protocol_tables::kDisableBa &&
        w.enableCaption != protocol_tables::kEnableBa) {
        Fail("enable caption", w.enableCaption);
    }
}

// Handled codes in a stream: each may be answered by at most one byte.
std::size_t AnswerableCodes(const std::vector<std::uint8_t>& bytes) {
    std::size_t n = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const bool next8F = i + 1 < bytes.size() && bytes[i + 1] == 0x8F;
        if (bytes[i] == 0xA1 || ((bytes[i] == 0x80 || bytes[i] == 0x81) && next8F)) {
            ++n;
        }
    }
    return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    ResetSharedState();
    RecordingWindow window;
    for (int n = 0; n < 16; ++n)
        window.ticks[n] = input.ConsumeBool();
    for (int n = 0; n < 4; ++n) {
        window.captions[input.ConsumeIntegralInRange(0, 15)] = input.ConsumeRandomLengthString(12);
    }
    window.escrowSetting = input.ConsumeIntegralInRange(-1, 1);
    ProtocolEngine engine(window, window.Sender());
    OperatorCommands commands(window, window.Sender());

    std::vector<std::uint8_t> tail;  // at most the bytes a held message can have
    while (input.remaining_bytes() > 0) {
        const std::size_t logBefore = window.log.size();
        const std::size_t sentBefore = window.sent.size();
        const std::uint8_t step = input.ConsumeIntegral<std::uint8_t>();
        if (step < 224) {
            const auto block =
                input.ConsumeBytes<std::uint8_t>(input.ConsumeIntegralInRange(1, 80));
            std::vector<std::uint8_t> joined = tail;
            joined.insert(joined.end(), block.begin(), block.end());
            engine.HandleBlock(block);
            if (window.sent.size() - sentBefore > AnswerableCodes(joined)) {
                Fail("more answers than handled codes", std::to_string(block.size()));
            }
            tail.assign(joined.end() - std::min<std::ptrdiff_t>(2, joined.size()), joined.end());
        } else {
            switch (step % 7) {
                case 0:
                    commands.Accept();
                    break;
                case 1:
                    commands.Reject();
                    break;
                case 2:
                    commands.Reset();
                    break;
                case 3:
                    commands.ClearCredit();
                    break;
                case 4:
                    commands.ToggleEnable();
                    break;
                case 5:
                    commands.Poll();
                    break;
                default:
                    engine.DropHeldTail();
                    tail.clear();
                    break;
            }
            if (window.sent.size() - sentBefore > 1) Fail("command sent twice", "");
        }
        CheckState(window, logBefore);
    }
    return 0;
}
