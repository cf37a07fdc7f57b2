#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace norva::tools {

// Walks a command line whose options take their values as "--opt VALUE" or "--opt=VALUE".
class OptionReader {
public:
    explicit OptionReader(const std::vector<std::string>& args) : args_(args) {}

    // Moves to the next argument; false past the last.
    bool Next() {
        if (started_) ++i_;
        started_ = true;
        if (i_ >= args_.size()) return false;
        name_ = args_[i_];
        inlineValue_.reset();
        if (const auto eq = name_.find('='); name_.starts_with("--") && eq != std::string::npos) {
            inlineValue_ = name_.substr(eq + 1);
            name_.resize(eq);
        }
        return true;
    }

    // The option's name without "=VALUE", and the argument as it was given.
    const std::string& name() const { return name_; }
    const std::string& raw() const { return args_[i_]; }
    bool HasInlineValue() const { return inlineValue_.has_value(); }
    // The value after "=", else the next argument (which is then used up).
    std::optional<std::string> Value() {
        if (inlineValue_) return inlineValue_;
        if (i_ + 1 < args_.size()) return args_[++i_];
        return std::nullopt;
    }

private:
    const std::vector<std::string>& args_;
    std::size_t i_ = 0;
    bool started_ = false;
    std::string name_;
    std::optional<std::string> inlineValue_;
};

}  // namespace norva::tools
