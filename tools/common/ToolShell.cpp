#include "ToolShell.h"

#include <csignal>
#include <cstdio>
#include <utility>

namespace velto::tools {

ToolShell::ToolShell(std::string name) : name_(std::move(name)), loop_(clock_) {
    // The screen library leaves handlers that are set already alone.
    loop_.handleSignals({SIGINT, SIGTERM, SIGHUP}, [this](int) { quit(); });
}

int ToolShell::run() {
    loop_.run();
    return 0;
}

void ToolShell::quit() {
    quitting_ = true;
    loop_.stop();
}

int ToolShell::fail(const std::string& why) const {
    std::fprintf(stderr, "%s: %s\n", name_.c_str(), why.c_str());
    return 1;
}

}  // namespace velto::tools
