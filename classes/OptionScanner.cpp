#include "OptionScanner.h"

#include <charconv>

namespace velto {

OptionScanner::OptionScanner(std::span<const char* const> arguments) : arguments_(arguments) {}

bool OptionScanner::next() {
    if (started_) ++index_;
    started_ = true;
    if (index_ >= arguments_.size()) return false;
    argument_ = arguments_[index_];
    name_ = argument_;
    inlineValue_.reset();
    if (const auto equals = name_.find('=');
        name_.starts_with("--") && equals != std::string_view::npos) {
        inlineValue_ = name_.substr(equals + 1);
        name_ = name_.substr(0, equals);
    }
    return true;
}

bool OptionScanner::next(OptionAction& action) {
    if (!next()) return false;
    if (name_ == "--help" || name_ == "-h") {
        action = OptionAction::help;
        return false;
    }
    if (name_ == "--version") {
        action = OptionAction::version;
        return false;
    }
    return true;
}

std::optional<std::string_view> OptionScanner::takeValue() {
    if (inlineValue_) return inlineValue_;
    if (index_ + 1 < arguments_.size()) return std::string_view(arguments_[++index_]);
    return std::nullopt;
}

Status OptionScanner::takeNumber(int low, int high, const NumberWording& wording, int& into) {
    const std::string option = "option " + std::string(name_);
    const auto text = takeValue();
    if (!text) return Status::failure(option + " needs " + std::string(wording.needs));
    const auto number = parseInteger(*text);
    if (!number) {
        return Status::failure(option + ": '" + std::string(*text) + "' is not " +
                               std::string(wording.notA));
    }
    if (*number < low || *number > high) {
        return Status::failure(option + ": " + std::string(wording.before) + std::string(*text) +
                               " is outside " + std::to_string(low) + " to " +
                               std::to_string(high));
    }
    into = *number;
    return Status::success();
}

std::optional<int> OptionScanner::parseInteger(std::string_view text) {
    int number = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, number);
    if (text.empty() || ec != std::errc() || ptr != end) return std::nullopt;
    return number;
}

}  // namespace velto
