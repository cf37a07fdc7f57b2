#include "picture/picture_export.h"

#include <QBuffer>
#include <QImage>
#include <QPainter>
#include <QSvgGenerator>

#include "textfile/text_lines.h"

namespace norva::picture {

namespace {

bool EndsWith(const std::string& name, const std::string& ending) {
    if (name.size() < ending.size()) return false;
    for (std::size_t i = 0; i < ending.size(); ++i) {
        const char c = name[name.size() - ending.size() + i];
        if (char(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c) != ending[i]) return false;
    }
    return true;
}

}  // namespace

Result<PictureFormat> PictureFormatOf(const std::string& fileName) {
    if (EndsWith(fileName, ".png")) return PictureFormat::Png;
    if (EndsWith(fileName, ".svg")) return PictureFormat::Svg;
    return Result<PictureFormat>::Failed(CannotCreateText(fileName), 0,
                                         "the name ends neither in .png nor in .svg");
}

QByteArray PngBytes(const SessionPicture& picture, const TimeWindow& window, QSize size) {
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setRenderHint(QPainter::TextAntialiasing);
        PaintPicture(painter, picture, QSizeF(size), window);
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

QByteArray SvgBytes(const SessionPicture& picture, const TimeWindow& window, QSize size) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QSvgGenerator svg;
    svg.setOutputDevice(&buffer);
    svg.setSize(size);
    // Pixels of a 96 dpi screen, so the file's own size is the picture's.
    svg.setResolution(96);
    svg.setViewBox(QRect(QPoint(0, 0), size));
    svg.setTitle(QString::fromStdString(picture.title().empty() ? "Session" : picture.title()));
    {
        QPainter painter(&svg);
        PaintPicture(painter, picture, QSizeF(size), window);
    }
    return bytes;
}

Outcome SavePicture(const SessionPicture& picture, const TimeWindow& window,
                    const std::string& fileName) {
    const Result<PictureFormat> format = PictureFormatOf(fileName);
    if (!format.ok()) return format.outcome();
    const QByteArray bytes = format.value() == PictureFormat::Png ? PngBytes(picture, window)
                                                                  : SvgBytes(picture, window);
    return WriteFileSafely(fileName,
                           std::string_view(bytes.constData(), std::size_t(bytes.size())));
}

}  // namespace norva::picture
