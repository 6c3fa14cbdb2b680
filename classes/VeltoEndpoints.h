#pragma once

// The controller's four endpoints, behind one interface so that the controller
// can be driven without sockets. The program uses the UDP ones (senders and
// listeners on the run loop, made by the controller); a test may give the
// controller a recorder instead.

#include <cstdint>
#include <stdexcept>

#include "PortTable.h"
#include "common/osc/HJOSCMessage.h"

namespace velto {

// Thrown when the system refuses a resource that the bridge cannot work without
// (a socket); the failure has been logged already.
struct ResourceFailure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

class VeltoEndpoints {
public:
    virtual ~VeltoEndpoints() = default;

    // Replaces the endpoint with one on `port` (its low 16 bits). A port merely
    // taken leaves a listener failed (logged); the system refusing a socket
    // throws ResourceFailure.
    virtual void open(Endpoint endpoint, std::int32_t port) = 0;
    // Lets a listener's port go, so that another listener can take it.
    virtual void stopListening(Endpoint listener) = 0;
    virtual bool isListening(Endpoint listener) const = 0;

    virtual void sendToVideoApp(HJOSCMessage message) = 0;
    virtual void sendToGrid(HJOSCMessage message) = 0;
};

}  // namespace velto
