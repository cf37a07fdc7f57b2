#pragma once

#include <QtGlobal>

namespace norva {

// While it lives, a window system that cannot be reached ends the program with exit status 1
// and a message saying which display was tried and what to use instead, where Qt would abort
// after advice that does not apply. Lives from before the QApplication until it is built.
class NoDisplayExit {
public:
    NoDisplayExit();
    ~NoDisplayExit();
    NoDisplayExit(const NoDisplayExit&) = delete;
    NoDisplayExit& operator=(const NoDisplayExit&) = delete;

    // The window system is up: messages go their usual way again.
    void Release();

private:
    QtMessageHandler previous_;
    bool installed_ = true;
};

}  // namespace norva
