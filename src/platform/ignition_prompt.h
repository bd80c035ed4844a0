#pragma once

namespace kv {

// Ignition prompt seam: the module transfers tell it when they ask the user to switch the
// ignition off or on, and when that request ends. What the user reads stays in the progress
// window; this seam lets a listener (the simulated driver at the key) follow the request
// without reading window captions.
enum class IgnitionRequest { Off, On };

class IgnitionPrompt {
public:
    virtual ~IgnitionPrompt() = default;
    // The user is now asked to switch the ignition off / on. Called again each time the request
    // is shown anew (the ignition came back on during the power-down wait).
    virtual void Asked(IgnitionRequest request) = 0;
    // The request is no longer pending: the ignition reached the asked position, the user
    // cancelled, or the transfer gave up.
    virtual void Ended() = 0;
};

} // namespace kv
