// The session picture filled from any capture text through the reading: no crash, the
// timeline in order, every line kept, and any view of it answered column by column.
#include <string>

#include "capture/capture_format.h"
#include "fuzz/fuzz_check.h"
#include "picture/picture_reading.h"
#include "picture/report.h"

using namespace norva;
using namespace norva::picture;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    // A small memory limit, so merging is fuzzed too.
    SessionPicture picture(64);
    PictureFiller filler(picture);
    TrafficReading reading({}, [&filler](const TrafficEvent& e) { filler.OnEvent(e); });
    CaptureReader reader = CaptureReader::FromText(text, "fuzz");
    for (;;) {
        const Result<bool> next = reader.Next();
        if (!next.ok() || !next.value()) break;
        FeedCaptureEvent(reading, reader.event());
    }
    reading.Finish();
    filler.Finish(reading.tallies(), true);

    Check(picture.texts().lineCount() == picture.numbers().lines, "lines lost");
    Check(picture.marks().size() <= 64, "more marks than memory was given for");
    for (std::size_t i = 1; i < picture.marks().size(); ++i)
        Check(picture.marks()[i - 1].unixMicros <= picture.marks()[i].unixMicros,
              "timeline out of order");
    for (const EscrowSpan& span : picture.escrows())
        Check(span.heldMicros <= span.endMicros, "span ends before it starts");
    const double start = double(picture.startMicros()), end = double(picture.endMicros());
    std::vector<RowMask> masks;
    for (const auto& [from, to, columns] :
         {std::tuple{start, end, 1000}, std::tuple{start, start + 1000, 7},
          std::tuple{end - 1e6, end + 1e9, 3}}) {
        picture.columns().Masks(picture.marks(), from, to, columns, masks);
        Check(masks.size() == std::size_t(columns), "a column missing");
    }
    (void)ReportJson(picture);
    return 0;
}
