#pragma once

#include <string>
#include <utility>

namespace norva {

// How an operation on a file or a device ended: success, or the text the operator is shown
// together with the OS error number behind it (0 when the cause is not the OS's). Success
// carries no text, so an empty text never has to stand for it.
class Outcome {
public:
    Outcome() = default;
    static Outcome Failed(std::string text, int osError = 0) {
        Outcome o;
        o.failed_ = true;
        o.text_ = std::move(text);
        o.osError_ = osError;
        return o;
    }

    bool ok() const { return !failed_; }
    const std::string& text() const { return text_; }
    int osError() const { return osError_; }

private:
    bool failed_ = false;
    std::string text_;
    int osError_ = 0;
};

}  // namespace norva
