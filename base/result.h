#pragma once

// How every layer reports failure.
//
// - An operation that can fail and returns no data returns an Outcome; one that returns data
//   returns a Result<T>, which holds either the data or the failure. Nothing else stands for
//   failure: no empty string, no sentinel value, no out-parameter, no global errno read after
//   the call.
// - A failure carries the text the user is shown, naming the file or the device ("Cannot open
//   file BILLVALUE.TXT", "/dev/ttyUSB0: ..."), the OS error number behind it (0 when the cause is
//   not the OS's) and, where the OS error alone would not say it, the reason in words ("a FIFO,
//   not a regular file"). reason() gives whichever there is; Describe() the text with it.
// - Success carries no text. A warning that comes with a success (line settings a driver refused)
//   is part of the value, never a failed Outcome.
// - The texts the operator must see word for word ("The COMPort open error !", "Cannot open file
//   %s") are made from a failure at the edge that shows them; the layers below keep the reason.

#include <cstring>
#include <optional>
#include <string>
#include <utility>

namespace norva {

class [[nodiscard]] Outcome {
public:
    Outcome() = default;
    static Outcome Failed(std::string text, int osError = 0, std::string reason = {}) {
        Outcome o;
        o.failed_ = true;
        o.text_ = std::move(text);
        o.osError_ = osError;
        o.reason_ = std::move(reason);
        return o;
    }

    bool ok() const { return !failed_; }
    const std::string& text() const { return text_; }
    int osError() const { return osError_; }
    // The reason in words: the one given, else the OS's for osError(), else empty.
    std::string reason() const {
        if (!reason_.empty()) return reason_;
        return osError_ != 0 ? std::string(std::strerror(osError_)) : std::string();
    }
    // "text: reason", or the text alone when there is no reason.
    std::string Describe() const {
        const std::string why = reason();
        return why.empty() ? text_ : text_ + ": " + why;
    }

private:
    bool failed_ = false;
    std::string text_;
    int osError_ = 0;
    std::string reason_;
};

template <typename T>
class [[nodiscard]] Result {
public:
    Result(T value) : value_(std::move(value)) {}  // NOLINT: a value is a success
    // A failed Outcome. A successful one has no value to give, so it counts as a failure.
    Result(Outcome failure) : failure_(std::move(failure)) {  // NOLINT
        if (failure_.ok()) failure_ = Outcome::Failed("no value");
    }
    static Result Failed(std::string text, int osError = 0, std::string reason = {}) {
        return Outcome::Failed(std::move(text), osError, std::move(reason));
    }

    bool ok() const { return value_.has_value(); }
    const T& value() const& { return *value_; }
    T& value() & { return *value_; }
    T&& value() && { return std::move(*value_); }
    const T* operator->() const { return &*value_; }
    T* operator->() { return &*value_; }

    // The failure; a successful Outcome while ok().
    const Outcome& outcome() const { return failure_; }
    const std::string& text() const { return failure_.text(); }
    int osError() const { return failure_.osError(); }
    std::string reason() const { return failure_.reason(); }
    std::string Describe() const { return failure_.Describe(); }

private:
    std::optional<T> value_;
    Outcome failure_;
};

}  // namespace norva
