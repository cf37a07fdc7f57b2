#pragma once

#include <QPointF>
#include <QRectF>
#include <QSize>

#include "picture/session_picture.h"
#include "picture/time_window.h"

class QPainter;

namespace norva::picture {

// Where each part of the picture goes in a picture of a given size.
struct PictureLayout {
    QRectF header;
    QRectF labels;  // lane and row names, left of the plot
    QRectF plot;    // the two lanes: time runs left to right
    QRectF axis;
    QRectF answerHistogram;
    QRectF holdHistogram;
    QRectF channelTable;
    QRectF sideTable;
    double rowHeight = 0;

    QRectF RowRect(Row row) const;
    // The row at a height in the plot; -1 outside every row.
    int RowAt(double y) const;
    double X(const TimeWindow& window, double micros) const;
    double MicrosAt(const TimeWindow& window, double x) const;
};

// A picture written to a file has this size; the window draws at its own.
inline constexpr QSize kPictureSize{1280, 900};
// Smaller than this, the parts would overlap.
inline constexpr QSize kSmallestPicture{960, 900};

PictureLayout LayOut(QSizeF size);

// The whole picture in [0, 0, size]: the header, the timeline showing `window`, the two
// histograms and the tables. One path for the screen, PNG and SVG.
void PaintPicture(QPainter& painter, const SessionPicture& picture, QSizeF size,
                  const TimeWindow& window);
// Its two layers, for a window that keeps what does not move with the timeline: everything
// but the timeline, on the background; then the timeline, within TimelineArea.
void PaintStill(QPainter& painter, const SessionPicture& picture, QSizeF size);
void PaintTimeline(QPainter& painter, const SessionPicture& picture, QSizeF size,
                   const TimeWindow& window);
QRectF TimelineArea(QSizeF size);

// The mark under a point of the timeline, the nearest within a few pixels in the row there;
// nullptr when there is none.
const Mark* MarkAt(const SessionPicture& picture, const PictureLayout& layout,
                   const TimeWindow& window, QPointF point);

}  // namespace norva::picture
