#pragma once

// The process's controlling terminal, as far as a hang-up needs it: a SIGHUP
// that comes because our own terminal went away means quit, any other SIGHUP
// (kill -HUP, systemctl reload) means reload.

namespace velto {

class ControllingTerminal {
public:
    // Whether the process has a controlling terminal that is still there. After
    // a hang-up the kernel takes it from every process of the session.
    static bool isPresent();
};

}  // namespace velto
