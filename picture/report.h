#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <string>

#include "base/result.h"
#include "picture/session_picture.h"

namespace norva::picture {

// The numbers of the picture as one JSON object: the keys of norva-cli's summary (stacked,
// returned, power_ups, answer_latency_ms, escrow_hold_ms, ...) and under "picture" the
// picture's own (per channel, silences, hand-backs, the histograms' bins, the span).
QJsonObject ReportJson(const SessionPicture& picture);

// One page that needs nothing else: the picture of the whole session as inline SVG and its
// numbers as HTML tables, each number's cell naming its JSON key (data-key) and carrying its
// JSON value as text.
QByteArray ReportHtml(const SessionPicture& picture);

// By the name's ending: ".html" (or ".htm") the page, ".svg" or ".png" the picture alone;
// written as safely as the settings files.
Outcome WriteReport(const SessionPicture& picture, const std::string& fileName);

}  // namespace norva::picture
