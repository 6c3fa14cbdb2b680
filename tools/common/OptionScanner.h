#pragma once

// Walks a tool's command line one option at a time, "--name value" or
// "--name=value", and reads numbers in a range with the tools' own wording
// for what is wrong. Kept free of the screen so that every tool can use it.

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>

namespace velto::tools {

// What a command line asks a tool to do.
enum class ToolAction { run, help, version, error };

// Options that say only what was wrong, for the user.
template <class Options>
Options failedOptions(std::string error) {
    Options options;
    options.action = ToolAction::error;
    options.error = std::move(error);
    return options;
}

class OptionScanner {
  public:
    // Arguments without argv[0].
    explicit OptionScanner(std::span<const char* const> arguments);

    // Moves to the next argument; false when there is none.
    bool next();
    // The current argument without its "=value".
    std::string_view name() const { return name_; }
    // The current argument as it was given.
    std::string_view argument() const { return argument_; }
    bool hasInlineValue() const { return inlineValue_.has_value(); }
    // Help ("--help", "-h") or the version ("--version"), which end the scanning; none otherwise.
    std::optional<ToolAction> askedFor() const;

    // The option's value: after '=', else the next argument (taken); none at the end.
    std::optional<std::string_view> takeValue();
    // A number within [low, high] into `into`, or the reason why not, for the user.
    std::optional<std::string> takeNumber(int low, int high, std::string_view what, int& into);

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

}  // namespace velto::tools
