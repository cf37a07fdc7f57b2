// The capture reader: no crash, the streaming reader and the whole-text one agree event for
// event and on the failure, and whatever they accept reads back the same after being written
// out, both from the events and through the record, also once trimmed.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "capture/capture_format.h"
#include "capture/traffic_record.h"
#include "fuzz/fuzz_check.h"

using namespace norva;

namespace {

bool SameEvents(const std::vector<CaptureEvent>& a, const std::vector<CaptureEvent>& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i].kind != b[i].kind || a[i].unixMicros != b[i].unixMicros ||
            a[i].bytes != b[i].bytes || a[i].port.portName != b[i].port.portName ||
            a[i].port.devicePath != b[i].port.devicePath ||
            a[i].port.modeString != b[i].port.modeString) {
            return false;
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto parse = ParseCapture(text);
    CaptureReader reader = CaptureReader::FromText(text, "capture");
    std::vector<CaptureEvent> streamed;
    Result<bool> more = reader.Next();
    for (; more.ok() && more.value(); more = reader.Next())
        streamed.push_back(reader.event());
    Check(more.ok() == parse.ok(), "the streaming reader judges otherwise");
    if (!parse.ok()) {
        Check(parse.Describe().starts_with("line "), "error without its line");
        Check(more.Describe() == "capture:" + parse.Describe().substr(5), "errors differ");
        Check(parse.Describe().find('\0') == std::string::npos, "a zero byte in the reason");
        return 0;
    }
    Check(SameEvents(parse.value(), streamed), "the streaming reader reads otherwise");

    const std::string written = FormatCapture(parse.value());
    const auto back = ParseCapture(written);
    Check(back.ok(), "written capture does not read back");
    Check(SameEvents(parse.value(), back.value()), "written capture reads back differently");

    TrafficRecord record;
    for (const CaptureEvent& event : parse.value()) {
        if (event.kind == TrafficKind::Port) record.PortOpened(event.unixMicros, event.port);
        if (event.kind == TrafficKind::Received) record.Received(event.unixMicros, event.bytes);
        if (event.kind == TrafficKind::Sent) record.Sent(event.unixMicros, event.bytes.at(0));
    }
    Check(record.Format() == written, "the record writes other text");
    record.DropOldest(record.eventCount() / 2 + 1);
    Check(ParseCapture(record.Format()).ok(), "a trimmed record does not read back");
    return 0;
}
