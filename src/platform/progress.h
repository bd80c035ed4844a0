#pragma once
// Progress seam: how the user sees that work goes on — the shared progress window of the long
// device transfers (caption, a bar of `maximum` steps, an optional Cancel), the event pumping
// that keeps it live during a synchronous transfer, and the hourglass pointer for short waits.
#include <string>

namespace kv {

class ProgressDisplay {
public:
    virtual ~ProgressDisplay() = default;
    // Shows the window (at most one; a second call re-captions it) with the bar at 0 of
    // `maximum` steps and no Cancel button. A `maximum` of 0 is a wait without steps (for the
    // driver at the key): the bar shows activity instead, kept moving by ProcessEvents.
    virtual void ShowProgress(const std::string& caption, int maximum) = 0;
    // Moves the bar to `value` steps (0..maximum).
    virtual void UpdateProgress(int value) = 0;
    // Shows a Cancel button; IsProgressCancelled() turns true once it is pressed (false while no
    // window is shown).
    virtual void EnableProgressCancel() = 0;
    virtual bool IsProgressCancelled() = 0;
    virtual void CloseProgress() = 0;
    // Lets the user interface handle pending events (repaints, the Cancel button) during a long
    // synchronous operation. A no-op headless.
    virtual void ProcessEvents() = 0;
    // Hourglass (busy) pointer on or off; nested calls are not counted (on, on, off ends it).
    virtual void SetHourglass(bool busy) = 0;
};

} // namespace kv
