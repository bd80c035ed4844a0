#include "app/core/edit_recovery.h"

#include "app/core/image_workflows.h"
#include "eprom/eprom_image.h"
#include "platform/file_dialogs.h"
#include "platform/file_io.h"
#include "platform/messages.h"
#include "undo/edit_history.h"

#include <ctime>

namespace kv {

namespace {

constexpr const char* kCrLf = "\r\n";

const char* ImageName(JournalSlot slot) { return slot == JournalSlot::Fuel ? "fuel" : "ignition"; }

// "3 edits", or "about 3 edits" when counted from the writes' times.
std::string Edits(const JournalContents& c) {
    const std::size_t n = c.EditCount();
    return (c.actionsCounted ? "" : "about ") + std::to_string(n) + (n == 1 ? " edit" : " edits");
}

std::string Capitalised(std::string text) {
    if (!text.empty() && text[0] >= 'a' && text[0] <= 'z') text[0] = static_cast<char>(text[0] - 'a' + 'A');
    return text;
}

std::string LocalTime(std::int64_t ms) {
    const std::time_t seconds = static_cast<std::time_t>(ms / 1000);
    std::tm local{};
    if (::localtime_r(&seconds, &local) == nullptr) return "an unknown time";
    char text[32];
    if (std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local) == 0) return "an unknown time";
    return text;
}

// The image the journal describes: its start with every edit written in the image's own way
// (into every copy of a small image). Its own context: nothing goes to a device or a journal.
EPROM EditedImage(const JournalContents& contents) {
    EPROM image;
    image.LoadFromArray(contents.base);
    for (const JournalEdit& edit : contents.edits) image.WriteBlock(edit.address, edit.bytes);
    return image;
}

} // namespace

std::string RestoreQuestion(const JournalContents& c) {
    const bool titled = !c.image.path.empty();
    std::string text = "Kestrovane did not close properly. " + Capitalised(Edits(c)) + " to the " +
                       ImageName(c.image.slot) + " image " + (titled ? c.image.path : "Untitled") +
                       (c.EditCount() == 1 ? " was" : " were") + " not saved; the last was made at " +
                       LocalTime(c.LastEditMs()) + "." + kCrLf + kCrLf;
    text += titled ? "Apply the unsaved edits to " + c.image.path + " now?"
                   : "The image was never saved to a file. Save it with the unsaved edits now?";
    return text;
}

EditRecovery::EditRecovery(EditJournal& journal, ImageSlots& slots, UserMessages& messages, FileDialogs& files,
                           const EditHistories& history, ImageWorkflows& workflows)
    : journal_(journal), slots_(slots), messages_(messages), files_(files), history_(history), workflows_(workflows) {}

void EditRecovery::Connect(EpromContext& context) {
    context.beforeWrite = [this](const EPROM& image, std::int32_t address, const std::vector<std::uint8_t>& bytes) {
        OnWrite(image, address, bytes);
    };
    context.saved = [this](const EPROM& image) {
        if (&image == slots_.fuel.get()) ClearSlot(true);
        if (&image == slots_.ignition.get()) ClearSlot(false);
    };
}

void EditRecovery::OnWrite(const EPROM& image, std::int32_t address, const std::vector<std::uint8_t>& bytes) {
    JournalImage id;
    if (&image == slots_.fuel.get())
        id.slot = JournalSlot::Fuel;
    else if (&image == slots_.ignition.get())
        id.slot = JournalSlot::Ignition;
    else
        return;
    id.path = image.GetFileName();
    id.fingerprint = image.FileFingerprint();
    id.fileFormat = FileFormatCode(image.GetFileFormat());
    // A passing state of the unit (held bytes) is not an edit a file may ever get.
    const std::uint64_t action = history_.ActionNow();
    const std::string failure =
        image.HoldsFileBytes() ? journal_.Record(id, image.FileView(), address, image.FileView(address, bytes), action)
                               : journal_.Record(id, image.Bytes(), address, bytes, action);
    if (failure.empty() || warned_) return;
    warned_ = true;
    messages_.MessageBox(failure + ". Your edits go on into the image, but they would be lost if the program " +
                             "ended without saving: save the image from time to time.",
                         "Warning", MsgButtons::OK, MsgIcon::Warning);
}

void EditRecovery::ClearSlot(bool fuelSlot) { journal_.Clear(fuelSlot ? JournalSlot::Fuel : JournalSlot::Ignition); }

void EditRecovery::ClearAll() {
    ClearSlot(true);
    ClearSlot(false);
}

void EditRecovery::OfferRestore() {
    for (const std::string& path : journal_.Leftovers()) {
        const std::optional<JournalContents> contents = ReadJournal(path);
        // Without a whole first record or without an edit, no edit ever went past the image.
        if (!contents || contents->EditCount() == 0) {
            EditJournal::Discard(path);
            continue;
        }
        Offer(path, *contents);
    }
}

void EditRecovery::Offer(const std::string& journalPath, const JournalContents& c) {
    const std::string edits = Edits(c);
    const std::string name = c.image.path.empty() ? "Untitled" : c.image.path;
    if (messages_.MessageBox(RestoreQuestion(c), "Kestrovane", MsgButtons::YesNo, MsgIcon::Question) !=
        MsgResult::Yes) {
        if (messages_.MessageBox("Discard " + (c.actionsCounted ? "the " + edits : edits) + " to the " +
                                     ImageName(c.image.slot) + " image " + name +
                                     "? They cannot be recovered afterwards." + kCrLf + kCrLf +
                                     "Click No to keep them: they are offered again at the next start.",
                                 "Warning", MsgButtons::YesNo, MsgIcon::Warning) == MsgResult::Yes)
            EditJournal::Discard(journalPath);
        return;
    }
    EPROM image = EditedImage(c);
    std::string target = c.image.path;
    FileFormat format = FileFormatOfCode(c.image.fileFormat).value_or(FileFormat::None);
    if (target.empty()) {
        const EcuType type = image.GetECUType();
        const std::string label = type == EcuType::EZK   ? "EZK (ignition)"
                                  : type == EcuType::EZF ? "EZF (ignition)"
                                                         : "LH (fuel)";
        auto file = files_.SaveFileDialog("Save " + label + " EPROM image", image.GetFileDialogFormats(), ".bin", "",
                                          image.FileFormat2FileDialogFormat(image.GetDefaultSaveFormat()));
        if (!file || file->path.empty()) return; // kept for the next start
        target = file->path;
        format = image.FileDialogFormat2FileFormat(file->filterIndex);
    } else {
        const Parsed<std::vector<std::uint8_t>> file = ReadRegularFile(target, 65536);
        if (!file || ContentFingerprint(*file) != c.image.fingerprint) {
            messages_.MessageBox("The file " + target + (file ? " has changed" : " cannot be read") +
                                     " since the edits were made, so they were not applied. They are kept and "
                                     "offered again at the next start.",
                                 "Warning", MsgButtons::OK, MsgIcon::Warning);
            return;
        }
    }
    if (!image.SaveToFile(target, format)) {
        messages_.MessageBox(kSaveFailedMessage, "Error", MsgButtons::OK, MsgIcon::Critical);
        return;
    }
    EditJournal::Discard(journalPath);
    // The file with the edits goes into the window as File > Open puts it there.
    if (!workflows_.FileOpen(OpenSource::File(target)))
        messages_.MessageBox(Capitalised(edits) + (c.EditCount() == 1 ? " was" : " were") + " applied to " + target +
                                 ". Open it with File > Open to go on.",
                             "Kestrovane", MsgButtons::OK, MsgIcon::Information);
}

} // namespace kv
