#include "picture/report.h"

#include <QJsonArray>
#include <QLocale>
#include <QRegularExpression>
#include <QString>

#include <cmath>
#include <utility>
#include <vector>

#include "picture/picture_export.h"
#include "picture/picture_text.h"
#include "textfile/text_lines.h"

namespace norva::picture {

namespace {

// Milliseconds to the microsecond, as norva-cli's summary writes them.
double Ms(double ms) {
    return std::round(ms * 1000) / 1000;
}

QJsonObject SpreadJson(const Spread& s) {
    return {{"count", qint64(s.count)}, {"p50", Ms(s.p50)}, {"p99", Ms(s.p99)}, {"max", Ms(s.max)}};
}

QJsonObject HistogramJson(const Histogram& h) {
    QJsonArray edges;
    QJsonArray counts;
    for (int i = 0; i <= h.axis().Bins(); ++i)
        edges.append(Ms(h.axis().EdgeMs(i)));
    for (std::uint64_t c : h.counts())
        counts.append(qint64(c));
    return {{"edges_ms", edges}, {"counts", counts}};
}

template <typename Field>
QJsonObject PerChannel(const SessionNumbers& n, Field field) {
    QJsonObject channels;
    for (int c = 0; c < kChannels; ++c) {
        const std::uint64_t v = field(n.channels[std::size_t(c)]);
        if (v != 0) channels.insert(QString::number(c + 1), qint64(v));
    }
    return channels;
}

QString Escaped(const QString& text) {
    return text.toHtmlEscaped();
}

QJsonValue At(const QJsonObject& root, const QString& key) {
    QJsonValue value = root;
    for (const QString& part : key.split(QLatin1Char('.')))
        value = value.toObject().value(part);
    return value;
}

QString ValueText(const QJsonValue& value) {
    if (value.isDouble()) {
        const double d = value.toDouble();
        if (d == std::floor(d) && std::fabs(d) < 1e15) return QString::number(qint64(d));
        return QString::number(d, 'g', QLocale::FloatingPointShortest);
    }
    if (value.isString()) return value.toString();
    if (value.isUndefined() || value.isNull()) return QStringLiteral("—");
    return QString();
}

// A table of name and value, each value's cell naming its key.
QString KeyTable(const QJsonObject& json, const QString& id,
                 const std::vector<std::pair<QString, QString>>& rows) {
    QString html = QStringLiteral("<table id=\"%1\">\n").arg(id);
    for (const auto& [name, key] : rows) {
        html += QStringLiteral("<tr><th>%1</th><td data-key=\"%2\">%3</td></tr>\n")
                    .arg(Escaped(name), key, Escaped(ValueText(At(json, key))));
    }
    return html + QStringLiteral("</table>\n");
}

QString ChannelTable(const QJsonObject& json) {
    static const std::vector<std::pair<const char*, const char*>> kColumns{
        {"value", "value"},       {"held", "held"},       {"stacked", "stacked"},
        {"returned", "returned"}, {"refused", "refused"}, {"credit", "credit"}};
    QString html = QStringLiteral("<table id=\"channels\">\n<tr><th>channel</th>");
    for (const auto& [name, key] : kColumns)
        html += QStringLiteral("<th>%1</th>").arg(QLatin1String(name));
    html += QStringLiteral("</tr>\n");
    for (int c = 1; c <= kChannels; ++c) {
        html += QStringLiteral("<tr><th>%1</th>").arg(c);
        for (const auto& [name, key] : kColumns) {
            const QString path =
                QStringLiteral("picture.channels.%1.%2").arg(c).arg(QLatin1String(key));
            html += QStringLiteral("<td data-key=\"%1\">%2</td>")
                        .arg(path, Escaped(ValueText(At(json, path))));
        }
        html += QStringLiteral("</tr>\n");
    }
    return html + QStringLiteral("</table>\n");
}

QString StatusTable(const QJsonObject& json) {
    QString html =
        QStringLiteral("<table id=\"status-codes\">\n<tr><th>code</th><th>count</th></tr>\n");
    const QJsonObject codes = json.value(QStringLiteral("status_codes")).toObject();
    for (auto it = codes.begin(); it != codes.end(); ++it) {
        html += QStringLiteral("<tr><th>%1</th><td data-key=\"status_codes.%1\">%2</td></tr>\n")
                    .arg(Escaped(it.key()), ValueText(it.value()));
    }
    return html + QStringLiteral("</table>\n");
}

// The SVG document as an element of the page: no XML declaration, and as wide as the page.
QString InlineSvg(const QByteArray& svg) {
    QString text = QString::fromUtf8(svg);
    const qsizetype start = text.indexOf(QStringLiteral("<svg"));
    if (start < 0) return {};
    text = text.mid(start);
    const qsizetype tagEnd = text.indexOf(QLatin1Char('>'));
    QString tag = text.left(tagEnd);
    tag.replace(QRegularExpression(QStringLiteral("\\s(width|height)=\"[^\"]*\"")), QString());
    return tag + QStringLiteral(" width=\"100%\"") + text.mid(tagEnd);
}

constexpr const char* kStyle =
    "body{font-family:'DejaVu Sans',Verdana,sans-serif;color:#222;margin:16px;max-width:1320px}"
    "h1{font-size:20px;margin:0 0 4px}h2{font-size:15px;margin:20px 0 6px}"
    "table{border-collapse:collapse;display:inline-table;vertical-align:top;margin:0 24px 8px 0}"
    "th,td{padding:2px 10px;text-align:right;font-size:13px}th{text-align:left}"
    "tr:nth-child(even){background:#f4f6f8}.note{color:#666;font-size:13px}";

}  // namespace

QJsonObject ReportJson(const SessionPicture& picture) {
    const SessionNumbers& n = picture.numbers();
    const auto stacked = [](const ChannelNumbers& c) { return c.stacked; };
    const auto held = [](const ChannelNumbers& c) { return c.held; };
    const auto refused = [](const ChannelNumbers& c) { return c.refused; };
    QJsonObject json;
    json.insert("stacked", QJsonObject{{"total", qint64(n.stacked)},
                                       {"channels", PerChannel(n, stacked)},
                                       {"unannounced", qint64(n.stackedUnannounced)}});
    if (n.credit) json.insert("credit", qint64(*n.credit));
    json.insert("refused", QJsonObject{{"unticked", qint64(n.refusedUnticked)},
                                       {"not_a_number", qint64(n.refusedNotANumber)},
                                       {"channels", PerChannel(n, refused)}});
    json.insert("returned", qint64(n.returned));
    json.insert("rejected_by_policy", qint64(n.rejectedByDecision));
    QJsonObject codes;
    for (const auto& [code, count] : n.statusCodes)
        codes.insert(QString::fromStdString(Hex(code)), qint64(count));
    json.insert("status_codes", codes);
    json.insert("power_ups", qint64(n.powerUps));
    json.insert("bytes_ignored", qint64(n.bytesIgnored));
    json.insert("answer_latency_ms", SpreadJson(n.answerLatencyMs));
    json.insert("escrow_hold_ms", SpreadJson(n.escrowHoldMs));
    json.insert("seconds_run",
                Ms(double(picture.endMicros() - picture.startMicros()) / 1000) / 1000);

    QJsonObject channels;
    for (int c = 0; c < kChannels; ++c) {
        const ChannelNumbers& ch = n.channels[std::size_t(c)];
        QJsonObject row{{"held", qint64(ch.held)},
                        {"stacked", qint64(ch.stacked)},
                        {"returned", qint64(ch.returned)},
                        {"refused", qint64(ch.refused)}};
        if (ch.value) row.insert("value", qint64(*ch.value));
        if (ch.credit) row.insert("credit", qint64(*ch.credit));
        channels.insert(QString::number(c + 1), row);
    }
    QJsonObject own{{"title", QString::fromStdString(picture.title())},
                    {"source", QString::fromStdString(picture.source())},
                    {"first_utc", QString::fromStdString(UtcTime(picture.startMicros()))},
                    {"last_utc", QString::fromStdString(UtcTime(picture.endMicros()))},
                    {"events", qint64(n.events)},
                    {"lines", qint64(n.lines)},
                    {"held", PerChannel(n, held)},
                    {"silences", qint64(n.silences)},
                    {"hand_backs", qint64(n.handBacks)},
                    {"late_answers", qint64(n.lateAnswers)},
                    {"undecided_escrows", qint64(n.undecidedEscrows)},
                    {"channels", channels},
                    {"answer_histogram", HistogramJson(picture.answers())},
                    {"hold_histogram", HistogramJson(picture.holds())},
                    {"hand_back_histogram", HistogramJson(picture.handBacks())}};
    json.insert("picture", own);
    return json;
}

QByteArray ReportHtml(const SessionPicture& picture) {
    const QJsonObject json = ReportJson(picture);
    const TimeWindow whole = TimeWindow::Fit(picture.startMicros(), picture.endMicros());
    const QString title =
        QString::fromStdString(picture.title().empty() ? "Session" : picture.title());
    QString html = QStringLiteral(
                       "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\"/>\n"
                       "<title>%1</title>\n<style>%2</style>\n</head>\n<body>\n<h1>%1</h1>\n")
                       .arg(Escaped(title), QLatin1String(kStyle));
    html += QStringLiteral("<p class=\"note\">%1</p>\n")
                .arg(Escaped(QString::fromStdString(picture.source())));
    html += QStringLiteral("<figure>\n") + InlineSvg(SvgBytes(picture, whole)) +
            QStringLiteral("\n</figure>\n");
    html += QStringLiteral("<h2>Session</h2>\n");
    html += KeyTable(json, QStringLiteral("session"),
                     {{"first event (UTC)", "picture.first_utc"},
                      {"last event (UTC)", "picture.last_utc"},
                      {"span (s)", "seconds_run"},
                      {"events", "picture.events"},
                      {"log lines", "picture.lines"},
                      {"stacked", "stacked.total"},
                      {"stacks unannounced", "stacked.unannounced"},
                      {"returned", "returned"},
                      {"rejected by the host's decision", "rejected_by_policy"},
                      {"credit", "credit"},
                      {"power-ups", "power_ups"},
                      {"silences over 10 s", "picture.silences"},
                      {"hand-backs", "picture.hand_backs"},
                      {"late answers", "picture.late_answers"},
                      {"undecided escrows", "picture.undecided_escrows"},
                      {"bytes ignored", "bytes_ignored"}});
    html += KeyTable(json, QStringLiteral("answer-latency"),
                     {{"answers", "answer_latency_ms.count"},
                      {"answer p50 (ms)", "answer_latency_ms.p50"},
                      {"answer p99 (ms)", "answer_latency_ms.p99"},
                      {"answer max (ms)", "answer_latency_ms.max"},
                      {"escrow holds", "escrow_hold_ms.count"},
                      {"hold p50 (ms)", "escrow_hold_ms.p50"},
                      {"hold p99 (ms)", "escrow_hold_ms.p99"},
                      {"hold max (ms)", "escrow_hold_ms.max"}});
    html += QStringLiteral("<h2>Per channel</h2>\n") + ChannelTable(json);
    html += QStringLiteral("<h2>Status codes</h2>\n") + StatusTable(json);
    html += QStringLiteral("</body>\n</html>\n");
    return html.toUtf8();
}

Outcome WriteReport(const SessionPicture& picture, const std::string& fileName) {
    const QString name = QString::fromStdString(fileName).toLower();
    if (name.endsWith(QStringLiteral(".html")) || name.endsWith(QStringLiteral(".htm"))) {
        const QByteArray page = ReportHtml(picture);
        return WriteFileSafely(fileName,
                               std::string_view(page.constData(), std::size_t(page.size())));
    }
    if (!PictureFormatOf(fileName).ok())
        return Outcome::Failed(CannotCreateText(fileName), 0,
                               "the name ends in none of .html, .svg, .png");
    return SavePicture(picture, TimeWindow::Fit(picture.startMicros(), picture.endMicros()),
                       fileName);
}

}  // namespace norva::picture
