#pragma once

// Walks a command line one option at a time, "--name value" or "--name=value",
// and reads numbers in a range, saying what is wrong in words for the user.
// Velto and the tools share it; it knows no option of its own but help and version.

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "Status.h"

namespace velto {

// What a command line asks a program to do.
enum class OptionAction { run, help, version, error };

// Options that say only what was wrong, for the user.
template <class Options>
Options failedOptions(std::string error) {
    Options options;
    options.action = OptionAction::error;
    options.error = std::move(error);
    return options;
}

// How a number option's problems are worded: "option --x needs <needs>",
// "option --x: '8a' is not <notA>", "option --x: <before>9 is outside 1 to 5".
struct NumberWording {
    std::string_view needs;
    std::string_view notA = "a number";
    std::string_view before = "";
};

class OptionScanner {
public:
    // Arguments without argv[0].
    explicit OptionScanner(std::span<const char* const> arguments);

    // Moves to the next argument; false when there is none.
    bool next();
    // The same, but also false at help ("--help", "-h") or the version
    // ("--version"), which end the scanning and are said in `action`.
    bool next(OptionAction& action);
    // The current argument without its "=value".
    std::string_view name() const { return name_; }
    // The current argument as it was given.
    std::string_view argument() const { return argument_; }
    bool hasInlineValue() const { return inlineValue_.has_value(); }

    // The option's value: after '=', else the next argument (taken); none at the end.
    std::optional<std::string_view> takeValue();
    // A number within [low, high] into `into`, or why not.
    Status takeNumber(int low, int high, const NumberWording& wording, int& into);

    // A whole decimal number, nothing else.
    static std::optional<int> parseInteger(std::string_view text);

private:
    std::span<const char* const> arguments_;
    std::size_t index_ = 0;
    bool started_ = false;
    std::string_view argument_;
    std::string_view name_;
    std::optional<std::string_view> inlineValue_;
};

}  // namespace velto
