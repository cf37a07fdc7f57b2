#pragma once

#include <vector>

#include "results_table.h"

namespace norva::bench {

// The session picture over a day at the bench (about 230,000 events and 5,000 notes), measured
// in this process as the window draws it, and over a capture of 20 million events.
struct PictureFigures {
    double openMs = 0;        // the capture read, its window shown and painted
    double reportMs = 0;      // the capture read again and its HTML report written
    double repaintDayMs = 0;  // slowest repaint while panning, the whole day in view
    double repaintHourMs = 0;
    double repaintMinuteMs = 0;
    double bytesPerEvent = 0;
    double bigOpenSeconds = 0;  // 20 million events
    double bigBytesPerEvent = 0;
};

// `big`: also the capture of 20 million events (about 600 MB in the temporary folder).
PictureFigures MeasurePicture(bool big);
void AddPictureRows(ResultsTable& table, const std::vector<PictureFigures>& runs);

}  // namespace norva::bench
