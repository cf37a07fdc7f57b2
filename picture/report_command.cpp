#include "picture/report_command.h"

#include <QGuiApplication>
#include <QJsonDocument>

#include <cstdio>

#include "picture/picture_reading.h"
#include "picture/report.h"
#include "textfile/printable.h"

namespace norva::picture {

int RunReportCommand(const std::string& out, const std::string& capture, bool json,
                     const char* programName) {
    // Drawing needs fonts but no screen.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    int argc = 1;
    char* argv[] = {const_cast<char*>(programName), nullptr};
    QGuiApplication app(argc, argv);

    const auto picture = PictureOfCapture(capture);
    if (!picture.ok()) {
        std::fprintf(stderr, "%s\n", Printable(picture.Describe()).c_str());
        return kCaptureUnreadable;
    }
    const Outcome written = WriteReport(*picture.value(), out);
    if (!written.ok()) {
        std::fprintf(stderr, "%s\n", Printable(written.Describe()).c_str());
        return kReportNotWritten;
    }
    if (json) {
        const QByteArray text =
            QJsonDocument(ReportJson(*picture.value())).toJson(QJsonDocument::Compact);
        std::fwrite(text.constData(), 1, std::size_t(text.size()), stdout);
        std::fputc('\n', stdout);
        if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
            std::fprintf(stderr, "standard output: the numbers could not be written\n");
            return kOutputLost;
        }
    }
    return kReportWritten;
}

}  // namespace norva::picture
