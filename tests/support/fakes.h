#pragma once
// Test doubles of the platform seams: a fake clock, an in-memory settings store and scripted
// dialogs that record every text shown and answer from a script.
#include "platform/clock.h"
#include "platform/dialogs.h"
#include "platform/ignition_prompt.h"
#include "platform/settings_store.h"

#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kv {

class FakeClock final : public Clock {
public:
    std::int64_t NowMs() override { return now; }
    void SleepMs(std::int64_t ms) override {
        if (ms > 0) now += ms;
        sleptMs += ms > 0 ? ms : 0;
        if (onSleep) onSleep(now);
    }
    std::int64_t now = 1'000'000;
    std::int64_t sleptMs = 0;
    // Called after every sleep with the new time (lets a test change the world while code waits).
    std::function<void(std::int64_t)> onSleep;
};

class MemorySettings final : public SettingsStore {
public:
    std::string GetSetting(const std::string& section, const std::string& key,
                           const std::string& defaultValue = {}) override {
        auto it = values.find({section, key});
        return it == values.end() ? defaultValue : it->second;
    }
    void SaveSetting(const std::string& section, const std::string& key, const std::string& value) override {
        values[{section, key}] = value;
    }
    std::map<std::pair<std::string, std::string>, std::string> values;
};

// Records each ignition request ("off", "on") and each end ("end"); `pending` is the request
// asked and not yet ended.
class RecordingIgnitionPrompt final : public IgnitionPrompt {
public:
    void Asked(IgnitionRequest request) override {
        log.push_back(request == IgnitionRequest::Off ? "off" : "on");
        pending = request;
    }
    void Ended() override {
        log.push_back("end");
        pending.reset();
    }

    std::vector<std::string> log;
    std::optional<IgnitionRequest> pending;
};

// Every call is appended to `log` as one line ("MessageBox|title|text", "ShowProgress|caption|max",
// "UpdateProgress|n", ...). Answers are taken from the queues in order; an empty queue answers
// with the defaults below.
class ScriptedDialogs final : public UserDialogs {
public:
    MsgResult MessageBox(const std::string& text, const std::string& title, MsgButtons buttons, MsgIcon) override {
        log.push_back("MessageBox|" + title + "|" + text);
        messages.push_back(text);
        if (onMessage) onMessage(text);
        if (!answers.empty()) {
            MsgResult r = answers.front();
            answers.pop_front();
            return r;
        }
        switch (buttons) {
        case MsgButtons::OK: return MsgResult::OK;
        case MsgButtons::OKCancel: return MsgResult::OK;
        case MsgButtons::YesNo:
        case MsgButtons::YesNoCancel: return MsgResult::Yes;
        }
        return MsgResult::OK;
    }
    std::optional<std::string> InputBox(const std::string& prompt, const std::string& title,
                                        const std::string& defaultText) override {
        log.push_back("InputBox|" + title + "|" + prompt + "|" + defaultText);
        if (inputs.empty()) return std::nullopt;
        auto r = inputs.front();
        inputs.pop_front();
        return r;
    }
    std::optional<FileDialogResult> OpenFileDialog(const std::string& title, const std::string& filter,
                                                   int filterIndex) override {
        log.push_back("OpenFileDialog|" + title + "|" + filter + "|" + std::to_string(filterIndex));
        return nextFile();
    }
    std::optional<FileDialogResult> SaveFileDialog(const std::string& title, const std::string& filter,
                                                   const std::string& defaultExtension, const std::string& fileName,
                                                   int filterIndex) override {
        log.push_back("SaveFileDialog|" + title + "|" + filter + "|" + defaultExtension + "|" + fileName + "|" +
                      std::to_string(filterIndex));
        return nextFile();
    }
    void ShowProgress(const std::string& caption, int maximum) override {
        log.push_back("ShowProgress|" + caption + "|" + std::to_string(maximum));
        progressCaption = caption;
        progressVisible = true;
        progressCancelEnabled = false;
        progressCancelled = false;
    }
    void UpdateProgress(int value) override {
        progressValue = value;
        if (logProgressUpdates) log.push_back("UpdateProgress|" + std::to_string(value));
    }
    void EnableProgressCancel() override {
        log.push_back("EnableProgressCancel");
        progressCancelEnabled = true;
    }
    bool IsProgressCancelled() override {
        if (cancelWhen && cancelWhen(progressCaption)) progressCancelled = true;
        return progressCancelled;
    }
    void CloseProgress() override {
        log.push_back("CloseProgress");
        progressVisible = false;
    }
    void ProcessEvents() override {
        ++processEventsCalls;
        if (onProcessEvents) onProcessEvents();
    }
    std::string ClipboardText() override { return clipboard; }
    void SetClipboardText(const std::string& text) override { clipboard = text; }
    bool TryGetClipboardText(std::string& text) override {
        if (clipboardFails) return false;
        text = clipboard;
        return true;
    }
    bool TrySetClipboardText(const std::string& text) override {
        if (clipboardFails) return false;
        clipboard = text;
        return true;
    }
    void SetHourglass(bool busy) override {
        log.push_back(busy ? "Hourglass|on" : "Hourglass|off");
        hourglass = busy;
    }

    std::vector<std::string> log;
    std::vector<std::string> messages;
    std::deque<MsgResult> answers;
    std::deque<std::optional<std::string>> inputs;
    std::deque<std::optional<FileDialogResult>> files;
    std::string clipboard;
    bool clipboardFails = false; // the clipboard cannot be opened
    std::string progressCaption;
    int progressValue = 0;
    bool progressVisible = false;
    bool progressCancelEnabled = false;
    bool progressCancelled = false;
    bool hourglass = false;
    bool logProgressUpdates = false;
    int processEventsCalls = 0;
    // Return true to press Cancel while the progress window shows the given caption.
    std::function<bool(const std::string&)> cancelWhen;
    // Called with the text of every message box as it is shown (before it is answered).
    std::function<void(const std::string&)> onMessage;
    std::function<void()> onProcessEvents;

private:
    std::optional<FileDialogResult> nextFile() {
        if (files.empty()) return std::nullopt;
        auto r = files.front();
        files.pop_front();
        return r;
    }
};

} // namespace kv
