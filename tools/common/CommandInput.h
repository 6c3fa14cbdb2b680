#pragma once

// The plain mode's commands: lines read from a descriptor (standard input) as
// they come, each handed over whole. The end of the input is not a quit: a
// script may start a tool with no input at all and stop it with a signal.

#include <functional>
#include <memory>
#include <string>

#include "LineBuffer.h"

namespace velto {
class ReadableWatch;
class RunLoop;
}  // namespace velto

namespace velto::tools {

class CommandInput {
  public:
    using LineHandler = std::function<void(const std::string& line)>;

    // Lines go to `onLine` until `stopped` says true; the loop must outlive us.
    CommandInput(RunLoop& loop, int descriptor, LineHandler onLine, std::function<bool()> stopped);
    ~CommandInput();
    CommandInput(const CommandInput&) = delete;
    CommandInput& operator=(const CommandInput&) = delete;

  private:
    void read();

    LineHandler onLine_;
    std::function<bool()> stopped_;
    LineBuffer lines_;
    std::unique_ptr<ReadableWatch> watch_;
};

}  // namespace velto::tools
