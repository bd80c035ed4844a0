#pragma once
// Where and how large the main window was when it closed, kept per user in section "Appearance":
// "WindowState" (the state as a number, "2" = maximised), "WindowSize" ("WIDTH,HEIGHT" of the
// window when neither maximised nor minimised) and "WindowPosition" ("X,Y" of its top left corner
// then). Every key is read and written here only.
#include "platform/parsed.h"

#include <optional>
#include <string>

namespace kv {

class SettingsStore;

// A window size in pixels.
struct WindowSize {
    int width = 0;
    int height = 0;
    friend bool operator==(const WindowSize&, const WindowSize&) = default;
};

// A window's top left corner in pixels of the desktop (negative left of or above the first
// screen).
struct WindowPosition {
    int x = 0;
    int y = 0;
    friend bool operator==(const WindowPosition&, const WindowPosition&) = default;
};

// "WIDTH,HEIGHT" as kept in the settings; an error for any other text or a size no screen has
// (below 400 x 300 or above 20000 pixels).
Parsed<WindowSize> ParseWindowSize(const std::string& text);
std::string WindowSizeText(WindowSize size);
// "X,Y" as kept in the settings; an error for any other text or a place beyond 20000 pixels.
Parsed<WindowPosition> ParseWindowPosition(const std::string& text);
std::string WindowPositionText(WindowPosition position);

// The window as it closed, with what it was when it was neither maximised nor minimised.
struct WindowGeometry {
    bool maximised = false;
    // nullopt: none kept, or not a size a window has, or kept with a position that is no place.
    std::optional<WindowSize> size;
    std::optional<WindowPosition> position; // nullopt: none kept (or no size)
};

class WindowSettings {
public:
    explicit WindowSettings(SettingsStore& settings) : settings_(settings) {}

    // Only a window closed maximised ("2") opens maximised; one closed minimised opens normal.
    WindowGeometry Load() const;
    // `stateNumber`: 2 maximised, 1 minimised, 0 normal.
    void Save(int stateNumber, WindowSize size, WindowPosition position);

private:
    SettingsStore& settings_;
};

} // namespace kv
