#pragma once
// Edits that the running unit did not confirm. A live edit made while the device or the unit is
// away stays in the image (the grid shows it) but not in the unit's EPROM Module: while any such
// byte is pending the status bar says "not in the unit", and once the unit answers again its
// module is compared with the image and the user is offered to send the difference.
#include <array>
#include <string>

namespace kv {

class ShellDevice;
class UserMessages;
struct ImageSlots;

inline constexpr const char* kNotInUnitText = "not in the unit";

class UnconfirmedEdits {
public:
    // All three must outlive this object.
    UnconfirmedEdits(ImageSlots& slots, ShellDevice& device, UserMessages& messages);

    // The quick-ping timer's follow-up (after QuickPingTick). For each image with unconfirmed
    // bytes whose unit answers (link open, ignition on, module reachable): reads the bytes back,
    // forgets those the module holds, and asks once per return of the unit whether to send the
    // others. Nothing goes to the device while no byte is pending. Re-entry (a timer firing while
    // the question is open) does nothing.
    void Tick();

    // kNotInUnitText while either image has unconfirmed bytes, else empty.
    std::string StatusText() const;

private:
    ImageSlots& slots_;
    ShellDevice& device_;
    UserMessages& messages_;
    // Per slot (fuel, ignition): the user was asked since the unit came back; not again until
    // the unit has been away.
    std::array<bool, 2> asked_{};
    bool busy_ = false;
};

} // namespace kv
