#include "picture/picture_painter.h"

#include <QFont>
#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QString>

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "picture/picture_palette.h"
#include "picture/picture_text.h"
#include "serial/com_port.h"

namespace norva::picture {

namespace {

constexpr double kMargin = 16;
constexpr double kHeaderHeight = 44;
constexpr double kLabelWidth = 110;
constexpr double kMarkerBand = 16;
constexpr double kRowHeight = 16;
constexpr double kLaneGap = 8;
constexpr double kAxisHeight = 22;
constexpr double kGap = 16;
constexpr double kTableRow = 17;
constexpr int kTableRows = 17;  // a heading and the sixteen channels
// Marks are drawn one by one up to this many a pixel column, from the columns' index beyond.
constexpr double kExactMarksPerColumn = 2;
// Pixels around the pointer that still find a mark.
constexpr double kHoverPixels = 4;

// 0.1 ms, 1 ms, ... 1 s, 10 s, 100 s, 1000 s: a scale reads best in one unit a side.
QString ScaleLabel(double ms) {
    if (ms < 1000) return QString::number(ms, 'g', 3) + QStringLiteral(" ms");
    return QString::number(ms / 1000, 'g', 4) + QStringLiteral(" s");
}

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

QFont Font(double pixels, bool bold = false) {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(int(pixels));
    font.setBold(bold);
    return font;
}

template <typename T, typename Key>
auto FirstAtOrAfter(const std::vector<T>& items, double micros, Key key) {
    return std::lower_bound(items.begin(), items.end(), micros,
                            [&](const T& item, double t) { return double(key(item)) < t; });
}

}  // namespace

PictureLayout LayOut(QSizeF size) {
    PictureLayout l;
    const double width = std::max(size.width(), double(kSmallestPicture.width()));
    const double height = std::max(size.height(), double(kSmallestPicture.height()));
    l.rowHeight = kRowHeight;
    l.header = QRectF(kMargin, kMargin, width - 2 * kMargin, kHeaderHeight);
    const double plotTop = l.header.bottom() + 8 + kMarkerBand;
    const double plotHeight = kRowCount * kRowHeight + kLaneGap;
    l.labels = QRectF(kMargin, plotTop, kLabelWidth, plotHeight);
    l.plot = QRectF(kMargin + kLabelWidth, plotTop, width - 2 * kMargin - kLabelWidth, plotHeight);
    l.axis = QRectF(l.plot.left(), l.plot.bottom(), l.plot.width(), kAxisHeight);
    const double tablesHeight = kTableRows * kTableRow + 4;
    const double histogramTop = l.axis.bottom() + kGap;
    const double histogramHeight =
        std::max(180.0, height - kMargin - tablesHeight - kGap - histogramTop);
    const double half = (width - 2 * kMargin - 24) / 2;
    l.answerHistogram = QRectF(kMargin, histogramTop, half, histogramHeight);
    l.holdHistogram = QRectF(kMargin + half + 24, histogramTop, half, histogramHeight);
    const double tablesTop = histogramTop + histogramHeight + kGap;
    const double channelWidth = std::min(560.0, (width - 2 * kMargin) * 0.55);
    l.channelTable = QRectF(kMargin, tablesTop, channelWidth, tablesHeight);
    l.sideTable = QRectF(kMargin + channelWidth + 24, tablesTop,
                         width - 2 * kMargin - channelWidth - 24, tablesHeight);
    return l;
}

QRectF PictureLayout::RowRect(Row row) const {
    const int i = int(row);
    const double top = plot.top() + i * rowHeight + (i >= kAcceptorRows ? kLaneGap : 0);
    return QRectF(plot.left(), top, plot.width(), rowHeight);
}

int PictureLayout::RowAt(double y) const {
    for (int i = 0; i < kRowCount; ++i) {
        const QRectF r = RowRect(Row(i));
        if (y >= r.top() && y < r.bottom()) return i;
    }
    return -1;
}

double PictureLayout::X(const TimeWindow& window, double micros) const {
    return plot.left() + (micros - window.fromMicros) / window.Width() * plot.width();
}

double PictureLayout::MicrosAt(const TimeWindow& window, double x) const {
    return window.fromMicros + (x - plot.left()) / plot.width() * window.Width();
}

namespace {

class Painter {
public:
    Painter(QPainter& p, const SessionPicture& picture, const PictureLayout& layout,
            const TimeWindow& window)
        : p_(p), picture_(picture), l_(layout), w_(window) {}

    void Still() {
        Header();
        LaneLabels();
        Histograms();
        Tables();
    }

    void Header();
    void Timeline();
    void Axis();
    void Histograms();
    void Tables();

private:
    QRectF EscrowBar() const {
        const QRectF row = l_.RowRect(Row::Escrow);
        return QRectF(row.left(), row.center().y() - 2, row.width(), row.height() / 2);
    }
    void LaneLabels();
    void LaneBands();
    void Silences();
    void Spans(bool exact);
    void Marks(bool exact);
    void PowerUp(double x);
    void Histogram(const QRectF& area, const QString& title,
                   const std::vector<const picture::Histogram*>& series,
                   const std::vector<QColor>& colours, const std::vector<QString>& legend,
                   const std::vector<std::pair<double, QString>>& markers, double quietGapMs);
    void Table(const QRectF& area, const std::vector<std::vector<QString>>& rows,
               const std::vector<double>& widths, const std::vector<bool>& dim);

    QPainter& p_;
    const SessionPicture& picture_;
    const PictureLayout& l_;
    const TimeWindow w_;
    // Made once a painting, not once a text.
    const QFont title_ = Font(17, true);
    const QFont text_ = Font(12);
    const QFont bold_ = Font(12, true);
    const QFont small_ = Font(10);
    const QFont table_ = Font(11);
    const QFont tableBold_ = Font(11, true);
};

void Painter::Header() {
    const SessionNumbers& n = picture_.numbers();
    p_.setPen(kInk);
    p_.setFont(title_);
    const QString title = Q(picture_.title().empty() ? "Session" : picture_.title());
    p_.drawText(l_.header.adjusted(0, 0, 0, -22), Qt::AlignLeft | Qt::AlignTop, title);
    p_.setFont(text_);
    std::string line;
    if (!picture_.source().empty()) line += picture_.source() + "   ";
    if (picture_.startMicros() != 0 || picture_.endMicros() != 0) {
        line += UtcTime(picture_.startMicros()).substr(0, 19) + " to " +
                UtcTime(picture_.endMicros()).substr(0, 19) + " UTC, " +
                Duration(picture_.endMicros() - picture_.startMicros());
    }
    line += "   " + Count(n.events) + " events, " + Count(n.lines) + " log lines";
    if (picture_.thinned())
        line += "   (marks of a row closer than a pixel of the whole session merged)";
    p_.drawText(l_.header.adjusted(0, 24, 0, 0), Qt::AlignLeft | Qt::AlignTop, Q(line));
}

void Painter::LaneLabels() {
    p_.setPen(kInk);
    p_.setFont(bold_);
    for (const auto& [first, last, lane] :
         {std::tuple{Row::PowerUp, Row::AcceptorOther, Lane::Acceptor},
          std::tuple{Row::Poll, Row::HostOther, Lane::Host}}) {
        const double top = l_.RowRect(first).top();
        p_.drawText(QRectF(l_.labels.left(), top, kLabelWidth, l_.RowRect(last).bottom() - top),
                    Qt::AlignLeft | Qt::AlignVCenter, Q(LaneName(lane)));
    }
    p_.setFont(small_);
    p_.setPen(kFaint);
    for (int i = 0; i < kRowCount; ++i) {
        const QRectF r = l_.RowRect(Row(i));
        p_.drawText(QRectF(l_.labels.left(), r.top(), kLabelWidth - 6, r.height()),
                    Qt::AlignRight | Qt::AlignVCenter, Q(RowName(Row(i))));
    }
}

void Painter::LaneBands() {
    for (const auto& [first, last, colour] :
         {std::tuple{Row::PowerUp, Row::AcceptorOther, kAcceptorLane},
          std::tuple{Row::Poll, Row::HostOther, kHostLane}}) {
        const double top = l_.RowRect(first).top();
        p_.fillRect(QRectF(l_.plot.left(), top, l_.plot.width(), l_.RowRect(last).bottom() - top),
                    colour);
    }
}

void Painter::Silences() {
    const auto& silences = picture_.silences();
    auto it = FirstAtOrAfter(silences, w_.fromMicros, [](const Silence& s) { return s.toMicros; });
    const double top = l_.plot.top() - kMarkerBand;
    p_.setFont(small_);
    double lastRight = -1e9;
    for (; it != silences.end() && double(it->fromMicros) < w_.toMicros; ++it) {
        double left = std::max(l_.X(w_, double(it->fromMicros)), l_.plot.left());
        double right = std::min(l_.X(w_, double(it->toMicros)), l_.plot.right());
        if (right - left < 2) right = left + 2;
        // Thousands of silences in one pixel column are drawn once.
        if (right <= lastRight) continue;
        left = std::max(left, lastRight);
        lastRight = right;
        p_.fillRect(QRectF(left, l_.plot.top(), right - left, l_.plot.height()), kSilence);
        p_.fillRect(QRectF(left, top + 3, right - left, kMarkerBand - 6), kSilenceEdge);
        const QString text = QStringLiteral("silent ") + Q(Duration(it->toMicros - it->fromMicros));
        if (QFontMetricsF(p_.font()).horizontalAdvance(text) + 6 < right - left) {
            p_.setPen(kInk);
            p_.drawText(QRectF(left, top, right - left, kMarkerBand), Qt::AlignCenter, text);
        }
    }
}

// Drawn one by one when zoomed in; otherwise from the columns, with the marks.
void Painter::Spans(bool exact) {
    if (!exact) return;
    const QRectF bar = EscrowBar();
    const auto& spans = picture_.escrows();
    auto it =
        FirstAtOrAfter(spans, w_.fromMicros, [](const EscrowSpan& s) { return s.heldMicros; });
    if (it != spans.begin()) --it;
    for (; it != spans.end() && double(it->heldMicros) < w_.toMicros; ++it) {
        if (double(it->endMicros) < w_.fromMicros) continue;
        const double left = std::max(l_.X(w_, double(it->heldMicros)), l_.plot.left());
        const double right = std::min(l_.X(w_, double(it->endMicros)), l_.plot.right());
        p_.fillRect(QRectF(left, bar.top(), std::max(right - left, 1.0), bar.height()),
                    SpanColour(it->end));
    }
}

void Painter::PowerUp(double x) {
    const double top = l_.plot.top() - kMarkerBand;
    p_.setPen(QPen(KindColour(MarkKind::PowerUp), 2));
    p_.drawLine(QPointF(x, top + kMarkerBand - 2), QPointF(x, l_.plot.bottom()));
    p_.setPen(Qt::NoPen);
    p_.setBrush(KindColour(MarkKind::PowerUp));
    p_.drawPolygon(QPolygonF(
        {QPointF(x - 5, top + 2), QPointF(x + 5, top + 2), QPointF(x, top + kMarkerBand - 2)}));
    p_.setBrush(Qt::NoBrush);
}

// Each row's marks as rectangles, drawn at once: a tick a mark when zoomed in, and from the
// columns' index a run of columns where the row has marks.
void Painter::Marks(bool exact) {
    std::array<std::vector<QRectF>, kRowCount> rects;
    std::vector<double> powerUps;
    const auto tickRect = [&](int row, double left, double width) {
        const QRectF r = l_.RowRect(Row(row));
        // Held marks leave the lower part of their row to the escrow bars.
        const double bottom = Row(row) == Row::Escrow ? r.center().y() : r.bottom() - 2;
        rects[std::size_t(row)].emplace_back(left, r.top() + 2, width, bottom - r.top() - 2);
    };
    const int columns = std::max(1, int(l_.plot.width()));
    if (exact) {
        const auto& marks = picture_.marks();
        auto it = FirstAtOrAfter(marks, w_.fromMicros, [](const Mark& m) { return m.unixMicros; });
        for (; it != marks.end() && double(it->unixMicros) < w_.toMicros; ++it) {
            const double x = l_.X(w_, double(it->unixMicros));
            const Row row = RowOf(it->kind, it->lane);
            tickRect(int(row), x - 0.75, 1.5);
            if (row == Row::PowerUp) powerUps.push_back(x);
        }
    } else {
        std::vector<RowMask> masks;
        picture_.columns().Masks(picture_.marks(), w_.fromMicros, w_.toMicros, columns, masks);
        const auto runs = [&](RowMask bit, const auto& draw) {
            for (int c = 0; c < columns;) {
                if (!(masks[std::size_t(c)] & bit)) {
                    ++c;
                    continue;
                }
                const int start = c;
                while (c < columns && (masks[std::size_t(c)] & bit))
                    ++c;
                draw(l_.plot.left() + start, double(c - start));
            }
        };
        const QRectF bar = EscrowBar();
        // An end that matters more is drawn over one that matters less in the same column.
        for (EscrowEnd end : {EscrowEnd::Stacked, EscrowEnd::Undecided, EscrowEnd::Returned,
                              EscrowEnd::HandedBack}) {
            runs(SpanBit(end), [&](double left, double width) {
                p_.fillRect(QRectF(left, bar.top(), width, bar.height()), SpanColour(end));
            });
        }
        for (int row = 0; row < kRowCount; ++row)
            runs(RowBit(Row(row)), [&](double left, double width) { tickRect(row, left, width); });
        runs(RowBit(Row::PowerUp), [&](double left, double) { powerUps.push_back(left + 0.5); });
    }
    p_.setPen(Qt::NoPen);
    for (int row = 0; row < kRowCount; ++row) {
        if (rects[std::size_t(row)].empty()) continue;
        p_.setBrush(RowColour(Row(row)));
        p_.drawRects(rects[std::size_t(row)].data(), int(rects[std::size_t(row)].size()));
    }
    p_.setBrush(Qt::NoBrush);
    double last = -1e9;
    for (double x : powerUps) {
        if (x - last < 3) continue;
        PowerUp(x);
        last = x;
    }
}

void Painter::Timeline() {
    LaneBands();
    p_.save();
    p_.setClipRect(QRectF(l_.plot.left(), l_.plot.top() - kMarkerBand, l_.plot.width(),
                          l_.plot.height() + kMarkerBand));
    Silences();
    const auto& marks = picture_.marks();
    const auto first =
        FirstAtOrAfter(marks, w_.fromMicros, [](const Mark& m) { return m.unixMicros; });
    const auto last =
        FirstAtOrAfter(marks, w_.toMicros, [](const Mark& m) { return m.unixMicros; });
    const double columns = std::max(1.0, l_.plot.width());
    const auto& spans = picture_.escrows();
    const auto spanFirst =
        FirstAtOrAfter(spans, w_.fromMicros, [](const EscrowSpan& s) { return s.heldMicros; });
    const auto spanLast =
        FirstAtOrAfter(spans, w_.toMicros, [](const EscrowSpan& s) { return s.heldMicros; });
    const bool exact = double(last - first) <= kExactMarksPerColumn * columns &&
                       double(spanLast - spanFirst) <= kExactMarksPerColumn * columns;
    Spans(exact);
    Marks(exact);
    p_.restore();
    p_.setPen(kFaint);
    p_.drawLine(l_.plot.bottomLeft(), l_.plot.bottomRight());
}

struct TickStep {
    double micros;
    int keep;  // characters of "YYYY-MM-DD HH:MM:SS.ffffff" to show, from `from`
    int from;
};

TickStep StepFor(double microsPerPixel) {
    static constexpr std::array<double, 28> kSteps{
        1e3,   2e3,   5e3,   1e4,     2e4,     5e4,     1e5,     2e5,     5e5, 1e6,
        2e6,   5e6,   1e7,   1.5e7,   3e7,     6e7,     1.2e8,   3e8,     6e8, 9e8,
        1.8e9, 3.6e9, 7.2e9, 1.08e10, 2.16e10, 4.32e10, 8.64e10, 1.728e11};
    const double wanted = microsPerPixel * 110;  // a label needs about this many pixels
    double step = kSteps.back();
    for (double s : kSteps) {
        if (s >= wanted) {
            step = s;
            break;
        }
    }
    if (step < 1e6) return {step, 12, 11};     // 03:14:15.123
    if (step < 6e7) return {step, 8, 11};      // 03:14:15
    if (step < 8.64e10) return {step, 5, 11};  // 03:14
    return {step, 5, 5};                       // 12-09
}

void Painter::Axis() {
    const double perPixel = w_.Width() / std::max(1.0, l_.plot.width());
    const TickStep step = StepFor(perPixel);
    p_.setFont(small_);
    const double first = std::ceil(w_.fromMicros / step.micros) * step.micros;
    for (double t = first; t <= w_.toMicros; t += step.micros) {
        const double x = l_.X(w_, t);
        p_.setPen(kGrid);
        p_.drawLine(QPointF(x, l_.plot.top()), QPointF(x, l_.plot.bottom() + 3));
        const QString text =
            Q(UtcTime(std::int64_t(t)).substr(std::size_t(step.from), std::size_t(step.keep)));
        const double half = QFontMetricsF(p_.font()).horizontalAdvance(text) / 2;
        if (x - half < l_.plot.left() || x + half > l_.plot.right()) continue;
        p_.setPen(kInk);
        p_.drawText(QRectF(x - 60, l_.axis.top() + 3, 120, 16), Qt::AlignHCenter | Qt::AlignTop,
                    text);
    }
    p_.setPen(kFaint);
    p_.drawText(QRectF(l_.labels.left(), l_.axis.top() + 3, kLabelWidth, 16),
                Qt::AlignLeft | Qt::AlignTop,
                Q(UtcTime(std::int64_t(w_.fromMicros)).substr(0, 10)));
    p_.drawText(QRectF(l_.labels.left(), l_.axis.top() + 3, kLabelWidth - 6, 16),
                Qt::AlignRight | Qt::AlignTop, QStringLiteral("UTC"));
}

void Painter::Histogram(const QRectF& area, const QString& title,
                        const std::vector<const picture::Histogram*>& series,
                        const std::vector<QColor>& colours, const std::vector<QString>& legend,
                        const std::vector<std::pair<double, QString>>& markers, double quietGapMs) {
    p_.setPen(kInk);
    p_.setFont(bold_);
    p_.drawText(QRectF(area.left(), area.top(), area.width(), 18), Qt::AlignLeft | Qt::AlignTop,
                title);
    const QRectF plot = area.adjusted(44, 22 + 16 * double(legend.size()), -8, -20);
    p_.setFont(small_);
    for (std::size_t i = 0; i < legend.size(); ++i) {
        const QRectF swatch(area.left() + 44, area.top() + 22 + 16 * double(i) + 3, 10, 10);
        p_.fillRect(swatch, colours[i]);
        p_.setPen(kInk);
        p_.drawText(QRectF(swatch.right() + 6, swatch.top() - 3, area.width(), 16),
                    Qt::AlignLeft | Qt::AlignTop, legend[i]);
    }
    const HistogramAxis& axis = series.front()->axis();
    std::uint64_t tallest = 0;
    for (int b = 0; b < axis.Bins(); ++b) {
        std::uint64_t total = 0;
        for (const auto* h : series)
            total += h->counts()[std::size_t(b)];
        tallest = std::max(tallest, total);
    }
    p_.fillRect(plot, kPlotBackground);
    const auto xOf = [&](double ms) { return plot.left() + axis.Position(ms) * plot.width(); };
    // Decades.
    for (int d = 0; d <= axis.decades; ++d) {
        const double ms = axis.EdgeMs(d * axis.binsPerDecade);
        const double x = xOf(ms);
        p_.setPen(kGrid);
        p_.drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom() + 3));
        p_.setPen(kInk);
        p_.drawText(QRectF(x - 40, plot.bottom() + 3, 80, 14), Qt::AlignHCenter | Qt::AlignTop,
                    ScaleLabel(ms));
    }
    p_.setPen(kInk);
    p_.drawText(QRectF(area.left(), plot.top() - 6, 40, 14), Qt::AlignRight | Qt::AlignTop,
                Q(Count(tallest)));
    p_.drawText(QRectF(area.left(), plot.bottom() - 8, 40, 14), Qt::AlignRight | Qt::AlignTop,
                QStringLiteral("0"));
    if (tallest > 0) {
        const double binWidth = plot.width() / axis.Bins();
        for (int b = 0; b < axis.Bins(); ++b) {
            double bottom = plot.bottom();
            for (std::size_t s = 0; s < series.size(); ++s) {
                const std::uint64_t count = series[s]->counts()[std::size_t(b)];
                if (count == 0) continue;
                // Even a single sample shows.
                const double h = std::max(1.5, double(count) / double(tallest) * plot.height());
                p_.fillRect(QRectF(plot.left() + b * binWidth + 1, bottom - h, binWidth - 2, h),
                            colours[s]);
                bottom -= h;
            }
        }
    }
    if (quietGapMs > 0) {
        const double x = xOf(quietGapMs);
        p_.setPen(QPen(kQuietGap, 1.5, Qt::DashLine));
        p_.drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom()));
        p_.setPen(kQuietGap);
        p_.drawText(QRectF(x - 150, plot.bottom() - 16, 146, 14), Qt::AlignRight | Qt::AlignTop,
                    QStringLiteral("%1 quiet gap").arg(Q(Milliseconds(quietGapMs))));
    }
    double labelY = plot.top() + 2;
    for (const auto& [ms, text] : markers) {
        const double x = std::clamp(xOf(ms), plot.left(), plot.right());
        p_.setPen(QPen(kMarker, 1.2));
        p_.drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom()));
        const bool leftOfLine = x > plot.right() - 140;
        const QRectF box =
            leftOfLine ? QRectF(x - 144, labelY, 140, 14) : QRectF(x + 4, labelY, 140, 14);
        p_.drawText(box, (leftOfLine ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignTop, text);
        labelY += 14;
    }
    p_.setPen(kFaint);
    p_.setBrush(Qt::NoBrush);
    p_.drawRect(plot);
}

void Painter::Histograms() {
    const SessionNumbers& n = picture_.numbers();
    const auto spread = [](const Spread& s) {
        std::vector<std::pair<double, QString>> markers;
        if (s.count == 0) return markers;
        markers.emplace_back(s.p50, QStringLiteral("p50 ") + Q(Milliseconds(s.p50)));
        markers.emplace_back(s.p99, QStringLiteral("p99 ") + Q(Milliseconds(s.p99)));
        markers.emplace_back(s.max, QStringLiteral("max ") + Q(Milliseconds(s.max)));
        return markers;
    };
    Histogram(l_.answerHistogram,
              QStringLiteral("Host's answer times, block's last byte to answer (%1)")
                  .arg(Q(Count(n.answerLatencyMs.count))),
              {&picture_.answers()}, {kAnswerBar}, {}, spread(n.answerLatencyMs), kQuietMs);
    Histogram(l_.holdHistogram,
              QStringLiteral("Escrow hold times, held to decision (%1)")
                  .arg(Q(Count(n.escrowHoldMs.count))),
              {&picture_.holds(), &picture_.handBacks()},
              {kHoldBar, SpanColour(EscrowEnd::HandedBack)},
              {QStringLiteral("decided by the host"),
               QStringLiteral("handed back by the acceptor (%1)").arg(Q(Count(n.handBacks)))},
              spread(n.escrowHoldMs), 0);
}

void Painter::Table(const QRectF& area, const std::vector<std::vector<QString>>& rows,
                    const std::vector<double>& widths, const std::vector<bool>& dim) {
    for (std::size_t r = 0; r < rows.size(); ++r) {
        const double y = area.top() + double(r) * kTableRow;
        if (y + kTableRow > area.bottom() + 1) break;
        if (r == 0) {
            p_.setFont(tableBold_);
        } else {
            p_.setFont(table_);
            if (r % 2 == 0) p_.fillRect(QRectF(area.left(), y, area.width(), kTableRow), kStripe);
        }
        p_.setPen(r < dim.size() && dim[r] ? kFaint : kInk);
        double x = area.left();
        for (std::size_t c = 0; c < rows[r].size() && c < widths.size(); ++c) {
            const Qt::Alignment align = c == 0 ? Qt::AlignLeft : Qt::AlignRight;
            p_.drawText(QRectF(x + 4, y, widths[c] - 8, kTableRow), align | Qt::AlignVCenter,
                        rows[r][c]);
            x += widths[c];
        }
    }
}

void Painter::Tables() {
    const SessionNumbers& n = picture_.numbers();
    const auto optional = [](const std::optional<std::int64_t>& v) {
        return v ? QString::number(*v) : QStringLiteral("—");
    };
    std::vector<std::vector<QString>> channels{
        {QStringLiteral("channel"), QStringLiteral("value"), QStringLiteral("held"),
         QStringLiteral("stacked"), QStringLiteral("returned"), QStringLiteral("refused"),
         QStringLiteral("credit")}};
    std::vector<bool> dim{false};
    for (int c = 0; c < kChannels; ++c) {
        const ChannelNumbers& ch = n.channels[std::size_t(c)];
        channels.push_back({QString::number(c + 1), optional(ch.value), Q(Count(ch.held)),
                            Q(Count(ch.stacked)), Q(Count(ch.returned)), Q(Count(ch.refused)),
                            optional(ch.credit)});
        dim.push_back(ch.held + ch.stacked + ch.returned + ch.refused == 0);
    }
    const double w = l_.channelTable.width();
    Table(l_.channelTable, channels,
          {w * 0.16, w * 0.14, w * 0.14, w * 0.14, w * 0.14, w * 0.14, w * 0.14}, dim);

    std::vector<std::vector<QString>> side{{QStringLiteral("session"), QString()}};
    const auto add = [&](const char* name, const std::string& value) {
        side.push_back({QString::fromUtf8(name), Q(value)});
    };
    add("span", Duration(picture_.endMicros() - picture_.startMicros()));
    add("log lines", Count(n.lines));
    add("credit", n.credit ? std::to_string(*n.credit) : "—");
    add("power-ups", Count(n.powerUps));
    add("silences over 10 s", Count(n.silences));
    add("hand-backs", Count(n.handBacks));
    add("late answers", Count(n.lateAnswers));
    add("undecided escrows", Count(n.undecidedEscrows));
    add("stacks unannounced", Count(n.stackedUnannounced));
    add("bytes ignored", Count(n.bytesIgnored));
    // The status codes, a few to a line.
    std::vector<std::string> codes;
    for (const auto& [code, count] : n.statusCodes)
        codes.push_back(Hex(code) + " × " + Count(count));
    if (codes.empty()) codes.push_back("none");
    for (std::size_t i = 0; i < codes.size(); i += 3) {
        std::string line;
        for (std::size_t j = i; j < std::min(i + 3, codes.size()); ++j)
            line += (j > i ? "   " : "") + codes[j];
        add(i == 0 ? "status codes" : "", line);
    }
    const double sw = l_.sideTable.width();
    Table(l_.sideTable, side, {sw * 0.4, sw * 0.6}, {});
}

}  // namespace

void PaintStill(QPainter& painter, const SessionPicture& picture, QSizeF size) {
    const PictureLayout layout = LayOut(size);
    painter.save();
    painter.fillRect(QRectF(QPointF(0, 0), size), kBackground);
    Painter(painter, picture, layout, TimeWindow{0, 1}).Still();
    painter.restore();
}

void PaintTimeline(QPainter& painter, const SessionPicture& picture, QSizeF size,
                   const TimeWindow& window) {
    const PictureLayout layout = LayOut(size);
    painter.save();
    Painter p(painter, picture, layout, window.Width() > 0 ? window : TimeWindow{0, 1});
    p.Timeline();
    p.Axis();
    painter.restore();
}

QRectF TimelineArea(QSizeF size) {
    const PictureLayout l = LayOut(size);
    return QRectF(0, l.plot.top() - kMarkerBand, std::max(size.width(), l.axis.right()),
                  l.axis.bottom() - l.plot.top() + kMarkerBand);
}

void PaintPicture(QPainter& painter, const SessionPicture& picture, QSizeF size,
                  const TimeWindow& window) {
    PaintStill(painter, picture, size);
    PaintTimeline(painter, picture, size, window);
}

const Mark* MarkAt(const SessionPicture& picture, const PictureLayout& layout,
                   const TimeWindow& window, QPointF point) {
    const int row = layout.RowAt(point.y());
    if (row < 0 || point.x() < layout.plot.left() - kHoverPixels ||
        point.x() > layout.plot.right() + kHoverPixels)
        return nullptr;
    const double at = layout.MicrosAt(window, point.x());
    const double reach = kHoverPixels * window.Width() / std::max(1.0, layout.plot.width());
    const auto& marks = picture.marks();
    auto it = FirstAtOrAfter(marks, at - reach, [](const Mark& m) { return m.unixMicros; });
    const Mark* best = nullptr;
    double bestDistance = reach;
    // A flood can pack millions of marks around the pointer; a pixel's worth is enough to look at.
    for (int looked = 0;
         it != marks.end() && double(it->unixMicros) <= at + reach && looked < 20000;
         ++it, ++looked) {
        if (int(RowOf(it->kind, it->lane)) != row) continue;
        const double distance = std::fabs(double(it->unixMicros) - at);
        if (distance <= bestDistance) {
            bestDistance = distance;
            best = &*it;
        }
    }
    return best;
}

}  // namespace norva::picture
