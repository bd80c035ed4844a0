#pragma once
// Clipboard seam: plain text to and from the system clipboard.
#include <string>

namespace kv {

class Clipboard {
public:
    virtual ~Clipboard() = default;
    // The text on the clipboard; empty when there is none or it cannot be read.
    virtual std::string ClipboardText() = 0;
    virtual void SetClipboardText(const std::string& text) = 0;
    // The same, telling whether the clipboard could be opened (false: nothing read or written).
    // Platforms whose clipboard cannot fail keep these defaults.
    virtual bool TryGetClipboardText(std::string& text) {
        text = ClipboardText();
        return true;
    }
    virtual bool TrySetClipboardText(const std::string& text) {
        SetClipboardText(text);
        return true;
    }
};

} // namespace kv
