#include "CommandInput.h"

#include <utility>

#include "platform/RunLoop.h"

namespace velto::tools {

CommandInput::CommandInput(RunLoop& loop, int descriptor, LineHandler onLine,
                           std::function<bool()> stopped, std::function<void()> onEnd)
    : onLine_(std::move(onLine)), stopped_(std::move(stopped)), onEnd_(std::move(onEnd)) {
    watch_ = loop.watchReadable(descriptor, [this] { read(); });
}

CommandInput::~CommandInput() = default;

void CommandInput::read() {
    const auto bytes = watch_->readAvailable();
    if (!bytes) {
        watch_.reset();
        if (auto last = lines_.finish(); last && !stopped_()) onLine_(*last);
        if (!stopped_()) onEnd_();
        return;
    }
    lines_.append(*bytes);
    while (!stopped_()) {
        const auto line = lines_.nextLine();
        if (!line) break;
        onLine_(*line);
    }
}

}  // namespace velto::tools
