#pragma once

#include <QColor>

#include "picture/marks.h"

namespace norva::picture {

// The picture's colours, for the screen, the files and the report's legend alike.

inline const QColor kBackground{0xFF, 0xFF, 0xFF};
inline const QColor kInk{0x22, 0x22, 0x22};
inline const QColor kFaint{0x88, 0x88, 0x88};
inline const QColor kGrid{0xDD, 0xDD, 0xDD};
inline const QColor kStripe{0xF4, 0xF6, 0xF8};
inline const QColor kAcceptorLane{0xF3, 0xF6, 0xFB};
inline const QColor kHostLane{0xF6, 0xF8, 0xF2};
inline const QColor kPlotBackground{0xFA, 0xFA, 0xFA};
inline const QColor kSilence{0xFF, 0xE9, 0xA8, 0xB0};
inline const QColor kSilenceEdge{0xE8, 0xB9, 0x30};
inline const QColor kQuietGap{0x1F, 0x6F, 0xB4};
inline const QColor kMarker{0x7A, 0x1F, 0x5C};
inline const QColor kAnswerBar{0x4C, 0x8E, 0xC9};
inline const QColor kHoldBar{0x6A, 0xB0, 0x4C};

QColor KindColour(MarkKind kind);
QColor RowColour(Row row);
QColor SpanColour(EscrowEnd end);

}  // namespace norva::picture
