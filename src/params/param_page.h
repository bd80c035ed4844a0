#pragma once
// The parameter pages of the four units without their windows: every setting of a page as a
// typed list (key, caption, kind, range), the page load that fills the settings from the image,
// and the change events that convert, show and write. The Qt pages and `kestrovane-cli param`
// both drive this logic; everything a page does to the image happens here.
//
// A page works like its window: a numeric setting is an up-down holding an integer in a unit of
// its own beside a text box that shows the converted value; an option is a group of option
// buttons; a check is a check box. Every change is written into the image at once (and from
// there through to the running unit), except while the page-loading flag is set: then the
// change events display but write nothing. Each change is one undo step of the image (EditStep).
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kv {

class AuxDevice;
class EPROM;
class SettingsStore;
class UserMessages;

enum class SettingKind { Number, Option, Check };

// One setting of a page as the window lays it out. Control names are the objectNames of the
// window; empty when the setting has no such control.
struct ParamSetting {
    std::string key;     // the script key ("rev_limit_rpm")
    std::string frame;   // caption of the frame that holds it
    std::string caption; // caption beside the control (a check box's own text)
    SettingKind kind = SettingKind::Number;
    // Number: the up-down's fixed range and step (some ranges narrow further, see Min/Max).
    int min = 0;
    int max = 0;
    int step = 1;
    // Option, or the presets of a number (the last preset caption being "Custom"): the key
    // words of the script and the captions on the page.
    std::vector<std::string> optionKeys;
    std::vector<std::string> optionCaptions;
    std::string upDown;     // udRevLimiter
    std::string textBox;    // txtRevLimiter
    std::string byteLabel;  // lblRevLimiterByte: the stored byte
    std::string extraLabel; // a second value beside the box (ticks, metres)
    std::string unit;       // shown after the up-down ("ft"); empty = none
    std::string extraUnit;  // shown after the second value ("m"); empty = none
    std::string radio;      // radioInjectorSize
    std::string check;      // chkDefeatISV (a check box in front of a number)
    bool typed = false;     // the box holds the typed whole number itself (the load threshold)
    bool inImage = true;    // false: kept in the program's settings, not in the image
};

// What the pages need besides the image. Every pointer may be null (no dialogs, settings or
// device); the operation that needs it then does nothing.
struct ParamServices {
    UserMessages* messages = nullptr;
    SettingsStore* settings = nullptr;
    // "Measure now on aux 3" reads the vacuum sensor through it.
    AuxDevice* aux = nullptr;
    // The oxygen-sensor adaptation reset of the running LH unit; true when the unit acknowledged.
    std::function<bool()> resetO2Adaptation;
};

class ParamPage {
public:
    virtual ~ParamPage() = default;
    ParamPage(const ParamPage&) = delete;
    ParamPage& operator=(const ParamPage&) = delete;

    // Tab key and caption ("Parameters", "Fuel parameters").
    virtual std::string TabKey() const = 0;
    std::string Caption() const;
    const EPROM& Image() const { return image_; }

    const std::vector<ParamSetting>& Settings() const { return settings_; }
    const ParamSetting* Find(const std::string& key) const;

    // Entering the tab: every setting is read from the image and its change event runs with the
    // page-loading flag set, so nothing is written.
    void Load();
    // Leaving the tab (the EZF page keeps its altitude in the settings).
    virtual void Leave() {}
    bool Loading() const { return loading_; }

    // Current state of a setting: the up-down value, the option index (-1: none matches), or
    // 1 / 0 for a check. A number with a check box reports its up-down here and the box in
    // Checked.
    int Value(const std::string& key) const;
    bool Checked(const std::string& key) const;
    // The option chosen of an option or of a number's presets (-1: none).
    int Option(const std::string& key) const;
    // The up-down's range now (the restore speed follows the cut-off, the flappy close the open).
    int Min(const std::string& key) const;
    int Max(const std::string& key) const;
    // False while a preset holds the injector size (its custom controls are disabled).
    bool Enabled(const std::string& key) const;
    // The text box, the byte label and the extra label as the page shows them.
    std::string Text(const std::string& key) const;
    std::string ByteText(const std::string& key) const;
    std::string ExtraText(const std::string& key) const;
    // The script's view: a number's text, an option's key word ("other" when none matches), a
    // check's "on" / "off"; a number with a check box gives "off" while unchecked.
    std::string ListText(const std::string& key) const;

    // The change events. SetValue clamps to the range of the moment.
    void SetValue(const std::string& key, int v);
    void SelectOption(const std::string& key, int index);
    void SetChecked(const std::string& key, bool checked);
    // A typed text (the flappy load threshold); false when the page does not write it.
    bool TypeText(const std::string& key, const std::string& text);
    // Leaving a typed box: a text the page refused is replaced by "1".
    void LeaveText(const std::string& key);

    // For scripts: the change event for the reachable value nearest to `value` (an option by
    // its key word, a check by on/off, a typed box by its text). A number is a plain decimal
    // ("6000", "4.2", "-3", "+5", "25%" where the setting shows a percentage) inside the range
    // the setting reaches now; a value between two reachable ones takes the nearer, and `note`
    // (when given) then says which. The error text when the page refuses the value or the key is
    // not one of the page's; nothing is changed then. A value that the setting shows already
    // changes nothing.
    std::optional<std::string> Apply(const std::string& key, const std::string& value, std::string* note = nullptr);

    // A number's box, or its second box (the altitude in metres), on screen.
    enum class Box { Value, Extra };
    // A text typed into a number's box and confirmed (Enter, or leaving the box): read as Apply
    // reads a number, in the units of that box; the nearest reachable value is taken as one
    // change. Presets and the check box in front of the number stay as they are. The error
    // text when the page refuses it (nothing is changed then).
    std::optional<std::string> CommitText(const std::string& key, const std::string& text, Box box = Box::Value);

    // The page's buttons ("Reset values", "Measure now on aux 3"): objectName, caption and the
    // frame that holds each.
    struct Command {
        std::string name;
        std::string caption;
        std::string frame;
    };
    const std::vector<Command>& Commands() const { return commands_; }
    // Runs a button's action; true when it did what it is for (the unit acknowledged the reset,
    // the calibration was measured and set).
    virtual bool RunCommand(const std::string& name);

    // Told after every change (the window refreshes its controls).
    std::function<void()> onChanged;

protected:
    struct Entry {
        ParamSetting info;
        int value = 0;
        int option = -1;
        bool checked = false;
        bool enabled = true;
        int dynMin = 0;
        int dynMax = 0;
        std::string typedText;
        // Reads the image into value / option / checked.
        std::function<void(Entry&)> load;
        // Shown texts of an up-down value.
        std::function<std::string(int)> text;
        std::function<std::string(int)> byteText;
        std::function<std::string(int)> extraText;
        // Why the range is narrower now than the up-down's own ("it cannot pass ..."); empty
        // when it is not.
        std::function<std::string()> boundBy;
        // Writes the state into the image (never while loading).
        std::function<void(const Entry&)> write;
        // What follows a change even while loading (ranges of others, rewrites through them).
        std::function<void(const Entry&)> after;
        // The check box in front of a number (never while loading).
        std::function<void(const Entry&)> onCheck;
        // Number with presets: the stored value of each preset, copied into the up-down.
        std::vector<int> presetValues;
    };

    ParamPage(EPROM& image, ParamServices services);
    Entry& Add(ParamSetting info);
    Entry& At(const std::string& key);
    const Entry* Get(const std::string& key) const;
    // Runs the change event of a number with value v (clamped unless loading).
    void Change(Entry& e, int v);
    void Notify();
    bool TypeTextValid(const Entry& e) const;
    bool TypeTextValid(const Entry& e, const std::string& text) const;
    static std::string WholeNumberRange(const Entry& e);
    // The setting as its caption (or its frame's) names it, without the colon.
    static std::string FieldName(const Entry& e);
    // The reachable value of a number nearest to `text` read in the units of `box`.
    struct Nearest {
        int value = 0;
        bool exact = false;
        // What the value had to be (" takes a number from ... to ..."), when it was refused.
        std::optional<std::string> refused;
    };
    Nearest Resolve(const Entry& e, const std::string& text, Box box) const;
    void AddCommand(Command command) { commands_.push_back(std::move(command)); }
    // The name of a change's undo step: the page's caption and the setting's ("Fuel parameters:
    // Rev limiter").
    std::string StepName(const Entry& e) const;

    EPROM& image_;
    ParamServices services_;
    bool loading_ = false;

private:
    std::vector<ParamSetting> settings_;
    std::vector<Command> commands_;
    std::vector<std::unique_ptr<Entry>> entries_;
};

// The page of the image's unit (LH 2.3, LH 2.2, EZK, EZF); null for an image of no known unit.
std::unique_ptr<ParamPage> MakeParamPage(EPROM& image, ParamServices services);

// The page of each unit, for callers that know the unit.
std::unique_ptr<ParamPage> MakeLH23Page(EPROM& image, ParamServices services);
std::unique_ptr<ParamPage> MakeLH22Page(EPROM& image, ParamServices services);
std::unique_ptr<ParamPage> MakeEZKPage(EPROM& image, ParamServices services);
std::unique_ptr<ParamPage> MakeEZFPage(EPROM& image, ParamServices services);

} // namespace kv
