#pragma once

// The plain mode's commands: lines read from a descriptor (standard input) as
// they come, each handed over whole. The end of the input (Ctrl-D, the end of
// a file or pipe) ends the session as `quit` does, after its last line.

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

    // Lines go to `onLine` until `stopped` says true, then `onEnd` is called at
    // the end of the input; the loop must outlive us.
    CommandInput(RunLoop& loop, int descriptor, LineHandler onLine, std::function<bool()> stopped,
                 std::function<void()> onEnd);
    ~CommandInput();
    CommandInput(const CommandInput&) = delete;
    CommandInput& operator=(const CommandInput&) = delete;

private:
    void read();

    LineHandler onLine_;
    std::function<bool()> stopped_;
    std::function<void()> onEnd_;
    LineBuffer lines_;
    std::unique_ptr<ReadableWatch> watch_;
};

}  // namespace velto::tools
