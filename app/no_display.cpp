#include "app/no_display.h"

#include <QString>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace norva {

namespace {

QtMessageHandler previousHandler = nullptr;
// The platform named by Qt's own warnings before it gives up, "xcb" for one.
std::string triedPlatform;

std::string Variable(const char* name) {
    const char* value = std::getenv(name);
    return std::string(name) +
           (value == nullptr || *value == '\0' ? " not set" : "=" + std::string(value));
}

void OnMessage(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type != QtFatalMsg) {
        const qsizetype named = message.indexOf(QLatin1String("platform plugin \""));
        if (named >= 0) {
            const qsizetype from = named + 17;
            triedPlatform = message.mid(from, message.indexOf(u'"', from) - from).toStdString();
        }
        if (previousHandler != nullptr) previousHandler(type, context, message);
        return;
    }
    const std::string platform = !triedPlatform.empty() ? triedPlatform
                                 : std::getenv("QT_QPA_PLATFORM") != nullptr
                                     ? std::getenv("QT_QPA_PLATFORM")
                                     : "the default";
    std::fprintf(stderr,
                 "norva-protocol: no display could be opened (platform %s; %s; %s).\n"
                 "The window needs a graphical session; without one, norva-cli runs the bench "
                 "from a terminal.\n",
                 platform.c_str(), Variable("DISPLAY").c_str(),
                 Variable("WAYLAND_DISPLAY").c_str());
    std::fflush(stderr);
    std::_Exit(1);
}

}  // namespace

NoDisplayExit::NoDisplayExit() : previous_(qInstallMessageHandler(OnMessage)) {
    previousHandler = previous_;
}

NoDisplayExit::~NoDisplayExit() {
    Release();
}

void NoDisplayExit::Release() {
    if (!installed_) return;
    installed_ = false;
    qInstallMessageHandler(previous_);
    previousHandler = nullptr;
}

}  // namespace norva
