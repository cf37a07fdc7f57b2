#pragma once

#include <QByteArray>
#include <QSize>
#include <string>

#include "base/result.h"
#include "picture/picture_painter.h"

namespace norva::picture {

enum class PictureFormat { Png, Svg };

// By the name's ending, in any case: ".png" or ".svg".
Result<PictureFormat> PictureFormatOf(const std::string& fileName);

// The picture as a file's bytes, showing `window` on its timeline.
QByteArray PngBytes(const SessionPicture& picture, const TimeWindow& window,
                    QSize size = kPictureSize);
QByteArray SvgBytes(const SessionPicture& picture, const TimeWindow& window,
                    QSize size = kPictureSize);

// PNG or SVG by the name's ending, written as safely as the settings files; a failure carries
// the text for the error box ("Cannot create file …") and the reason.
Outcome SavePicture(const SessionPicture& picture, const TimeWindow& window,
                    const std::string& fileName);

}  // namespace norva::picture
