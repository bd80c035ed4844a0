#include "app/core/image_workflows.h"

#include "app/core/shell_device.h"
#include "app/core/tab_state.h"
#include "eprom/base_images.h"
#include "eprom/eprom_device.h"
#include "eprom/eprom_image.h"
#include "eprom/eprom_transfer.h"
#include "platform/clock.h"
#include "platform/file_dialogs.h"
#include "platform/ignition_prompt.h"
#include "platform/messages.h"
#include "platform/progress.h"
#include "platform/settings_store.h"

#include <optional>
#include <utility>

namespace kv {

namespace {

// The unit names that fill the "{1}" of the kind messages, by ECU type.
std::string UnitLongName(EcuType type) {
    switch (type) {
    case EcuType::LH23: return "LH 2.3 (fuel injection)";
    case EcuType::EZK: return "EZK (ignition)";
    case EcuType::LH22: return "LH 2.2 (fuel injection)";
    case EcuType::EZF: return "EZF (ignition)";
    case EcuType::Unknown: break;
    }
    return {};
}

// The tab state of a unit's image when it takes its slot, and when it leaves it; none for no unit.
std::optional<TabState> EnterStateFor(EcuType type) {
    switch (type) {
    case EcuType::LH23: return TabState::LH;
    case EcuType::EZK: return TabState::EZK;
    case EcuType::LH22: return TabState::LH22;
    case EcuType::EZF: return TabState::EZF;
    case EcuType::Unknown: break;
    }
    return std::nullopt;
}

std::optional<TabState> LeaveStateFor(EcuType type) {
    switch (type) {
    case EcuType::LH23: return TabState::NotLH;
    case EcuType::EZK: return TabState::NotEZK;
    case EcuType::LH22: return TabState::NotLH22;
    case EcuType::EZF: return TabState::NotEZF;
    case EcuType::Unknown: break;
    }
    return std::nullopt;
}

bool PemEnabled(EcuType type) { return type == EcuType::LH23 || type == EcuType::EZK; }

// Keeps the hourglass on for one scope.
class Hourglass {
public:
    explicit Hourglass(ProgressDisplay& d) : d_(d) { d_.SetHourglass(true); }
    ~Hourglass() { d_.SetHourglass(false); }
    Hourglass(const Hourglass&) = delete;
    Hourglass& operator=(const Hourglass&) = delete;

private:
    ProgressDisplay& d_;
};

// One slot's group of the information line.
std::string SlotGroup(const EPROM& image, bool ignitionSlot) {
    const EcuType type = image.GetECUType();
    std::string text = ignitionSlot ? "Ignition EPROM: " : "Fuel EPROM: ";
    if (type == EcuType::Unknown) {
        text += "None";
        text += "; Load method: ";
        text += ignitionSlot ? std::string("EZK: ") + kPemOnly : std::string("LH 2.3: ") + kPemOnly;
        return text;
    }
    text += image.GetName();
    const int rev = image.GetRevision();
    if (rev != 0 && rev != 255) text += " (Rev " + std::to_string(rev) + ")";
    if (!image.GetFileName().empty()) text += " - " + image.GetFileName();
    if (ignitionSlot) {
        const std::string maps = image.GetBaseMapsName();
        if (!maps.empty()) text += "; " + maps + " maps";
    }
    const std::string maf = image.LH23EZK_GetMAFType();
    if (!maf.empty()) text += "; " + maf + " sensor";
    const std::string format = EPROM::GetFileFormatName(image.GetFileFormat());
    if (!format.empty()) text += "; File format: " + format;
    text += "; Load method: ";
    text += PemEnabled(type) ? kPemOnly : kOfflineOnly;
    if (image.IsOffline()) text += "; Offline: not in the EPROM Module";
    return text;
}

} // namespace

OpenSource OpenSource::File(std::string p) {
    OpenSource s;
    s.kind = Kind::Path;
    s.path = std::move(p);
    return s;
}
OpenSource OpenSource::Emulator() {
    OpenSource s;
    s.kind = Kind::Emulator;
    return s;
}
OpenSource OpenSource::NewImage() {
    OpenSource s;
    s.kind = Kind::NewImage;
    return s;
}
OpenSource OpenSource::Running(int ecuKind) {
    OpenSource s;
    s.kind = Kind::RunningEcu;
    s.ecu = ecuKind;
    return s;
}
OpenSource OpenSource::Take(std::unique_ptr<EPROM> image) {
    OpenSource s;
    s.kind = Kind::HandedIn;
    s.handedIn = std::move(image);
    return s;
}

InfoLine BuildInfoLine(const EPROM& fuel, const EPROM& ignition) {
    InfoLine line;
    line.fuel = SlotGroup(fuel, false);
    line.ignition = SlotGroup(ignition, true);
    if (fuel.GetECUType() == EcuType::LH23 && ignition.GetECUType() == EcuType::EZK &&
        fuel.LH23EZK_GetMAFType() != ignition.LH23EZK_GetMAFType())
        line.warning = "Warning! EPROMs have mismatching MAF types (standard MAF vs. SuperMAF)";
    const bool fuelOffline = fuel.IsOffline();
    const bool ignitionOffline = ignition.IsOffline();
    if (fuelOffline || ignitionOffline) {
        const std::string which = fuelOffline && ignitionOffline ? "fuel and ignition images"
                                  : fuelOffline                  ? "fuel image"
                                                                 : "ignition image";
        line.offline = "Offline editing: the " + which + (fuelOffline && ignitionOffline ? " are" : " is") +
                       " not in the EPROM Module, edits go only to the image. Load it with File > Load into "
                       "module when the device answers again.";
        line.windowTitle = "Kestrovane (offline: " + which + ")";
    }
    return line;
}

ImageWorkflows::ImageWorkflows(WorkflowServices services) : s_(std::move(services)), recent_(s_.settings) {}

void ImageWorkflows::SetTabState(TabState state) {
    s_.tabs.Apply(state);
    s_.view.ShowTabs(s_.tabs.VisibleTabs(), state);
}

bool ImageWorkflows::OfflineAllowed(EcuType type) {
    if (type == EcuType::LH22) return s_.settings.GetSetting("ECUs", "LH22", "0") == "1";
    if (type == EcuType::EZF) return s_.settings.GetSetting("ECUs", "EZF", "0") == "1";
    return false;
}

EPROM& ImageWorkflows::SlotFor(const EPROM& image) {
    return image.GetECUFunction() == 1 ? *s_.images.fuel : *s_.images.ignition;
}

std::string ImageWorkflows::NewImageName() {
    NewImageChoice initial;
    initial.baseName = s_.settings.GetSetting("EPROM", "NewDefault", "");
    initial.superMAF = s_.settings.GetSetting("EPROM", "NewDefaultSuperMAF", "") == "1";
    auto choice = s_.view.RunNewImageDialog(initial);
    if (!choice || choice->baseName.empty()) return {};
    s_.settings.SaveSetting("EPROM", "NewDefault", choice->baseName);
    s_.settings.SaveSetting("EPROM", "NewDefaultSuperMAF", choice->superMAF ? "1" : "0");
    return choice->baseName + (choice->superMAF ? kSuperMAFSuffix : "");
}

std::unique_ptr<EPROM> ImageWorkflows::Obtain(OpenSource& source, std::string& message, bool& cancelled) {
    cancelled = false;
    if (source.kind == OpenSource::Kind::HandedIn) return std::move(source.handedIn);
    if (source.kind == OpenSource::Kind::AskUser) {
        auto file = s_.files.OpenFileDialog("Load EPROM image", "EPROM images (*.bin)|*.bin", 1);
        if (!file || file->path.empty()) {
            cancelled = true;
            return nullptr;
        }
        source.path = file->path;
    }
    std::string baseName;
    if (source.kind == OpenSource::Kind::NewImage) {
        baseName = NewImageName();
        if (baseName.empty()) {
            cancelled = true;
            return nullptr;
        }
    }
    auto image = std::make_unique<EPROM>(s_.context);
    Hourglass busy(s_.progress);
    switch (source.kind) {
    case OpenSource::Kind::AskUser:
    case OpenSource::Kind::Path: message = image->LoadFromFile(source.path); break;
    case OpenSource::Kind::Emulator: message = image->LoadFromEmulator(); break;
    case OpenSource::Kind::RunningEcu: message = image->LoadFromECU_Running(source.ecu); break;
    case OpenSource::Kind::NewImage:
        message = LoadBaseImage(baseName, *image);
        if (message == kBaseImageNotSupported) {
            s_.progress.SetHourglass(false);
            s_.messages.MessageBox(kBaseImageNotSupported, "Kestrovane", MsgButtons::OK, MsgIcon::Information);
            cancelled = true;
            return nullptr;
        }
        break;
    case OpenSource::Kind::HandedIn: break;
    }
    return image;
}

bool ImageWorkflows::AcceptKind(const EPROM& image, const OpenSource& source) {
    const bool fromFile = source.kind == OpenSource::Kind::Path || source.kind == OpenSource::Kind::AskUser;
    const bool isNew = source.kind == OpenSource::Kind::NewImage;
    if (!fromFile && !isNew) return true;
    const EcuType type = image.GetECUType();
    const std::string unit = UnitLongName(type);
    const bool offlineOnly = type == EcuType::LH22 || type == EcuType::EZF;
    const bool ask = PemEnabled(type) || (offlineOnly && OfflineAllowed(type));
    if (ask) {
        if (isNew) return true;
        return s_.messages.MessageBox("The selected file is an " + unit +
                                          " EPROM. Click OK to continue loading or Cancel to cancel loading.",
                                      "Kestrovane", MsgButtons::OKCancel, MsgIcon::Question) == MsgResult::OK;
    }
    if (offlineOnly) {
        s_.messages.MessageBox("The selected file is an " + unit +
                                   " EPROM but according to the system configuration, there is no Kestrovane "
                                   "enabled " +
                                   unit + " ECU in the system. Please check the settings under Tools -> Options.",
                               "Error", MsgButtons::OK, MsgIcon::Critical);
        return false;
    }
    return true;
}

bool ImageWorkflows::UpgradeIfOld(EPROM& image) {
    if (DecideRevision(image) != RevisionDecision::Upgrade) return true;
    if (s_.messages.MessageBox(UpgradeQuestion(), "Kestrovane", MsgButtons::OKCancel, MsgIcon::Question) !=
        MsgResult::OK)
        return false;
    bool carHasSuperMAF = false;
    if (UpgradeAsksForSuperMAF(image)) {
        const MsgResult r =
            s_.messages.MessageBox(SuperMAFQuestion(), "Kestrovane", MsgButtons::YesNoCancel, MsgIcon::Question);
        if (r == MsgResult::Cancel) return false;
        carHasSuperMAF = r == MsgResult::Yes;
    }
    std::string message;
    {
        Hourglass busy(s_.progress);
        message = UpgradeFromBaseImage(image, UpgradeBaseName(image, carHasSuperMAF));
    }
    if (!message.empty()) {
        s_.messages.MessageBox(message, "Error", MsgButtons::OK, MsgIcon::Critical);
        return false;
    }
    return true;
}

bool ImageWorkflows::FileOpen(OpenSource source) {
    // 1. The new image, in an object of its own.
    std::string message;
    bool cancelled = false;
    std::unique_ptr<EPROM> image = Obtain(source, message, cancelled);
    if (cancelled || !image) return false;
    const bool fromFile = source.kind == OpenSource::Kind::Path || source.kind == OpenSource::Kind::AskUser;
    const bool isNew = source.kind == OpenSource::Kind::NewImage;

    // 2. Is it of a unit this system serves?
    if (!AcceptKind(*image, source)) return false;
    const EcuType type = image->GetECUType();

    // 3. Load failures and unknown kinds.
    if (message.empty() && type == EcuType::Unknown && !image->IsEmptyImage()) message = kUnrecognizedMessage;
    // An erased image read from the device belongs to no unit: it must not take (and so empty)
    // a slot. Files and new images go on to the module load, which refuses it.
    if (message.empty() && type == EcuType::Unknown && !fromFile && !isNew) message = kEmptyImageMessage;
    if (!message.empty()) {
        s_.messages.MessageBox("Failed to load EPROM image: " + message, "Error", MsgButtons::OK, MsgIcon::Critical);
        return false;
    }

    // 4. The image it replaces.
    EPROM& old = SlotFor(*image);
    if (imageLeaving_) imageLeaving_(old);
    const MsgResult answer = SavePrompt(old);
    if (answer == MsgResult::Cancel) return false;
    if (answer == MsgResult::Yes && Save(old) == SaveResult::Cancel) return false;

    // 5. Made by a later version?
    const RevisionDecision decision = DecideRevision(*image);
    if (decision == RevisionDecision::Refuse) {
        s_.messages.MessageBox(LaterVersionMessage(s_.version.major, s_.version.minor, s_.version.revision), "Error",
                               MsgButtons::OK, MsgIcon::Critical);
        return false;
    }

    // 6. Made by an earlier version: upgrade from the current base image.
    const bool upgraded = decision == RevisionDecision::Upgrade;
    if (!UpgradeIfOld(*image)) return false;

    // 7. Into the unit's module (LH 2.2 and EZF images are edited offline only).
    const bool offlineOnly = type == EcuType::LH22 || type == EcuType::EZF;
    if ((fromFile || isNew || upgraded) && !offlineOnly) {
        std::string loadMessage = image->LoadToEmulator();
        if (!loadMessage.empty()) {
            ShowLoadMessage(loadMessage);
            // Without the device a file or a new image can still be prepared at the desk.
            const bool offer = (fromFile || isNew) && loadMessage == kDeviceNotResponding;
            if (!offer || s_.messages.MessageBox(kOfflineQuestion, "Kestrovane", MsgButtons::YesNo,
                                                 MsgIcon::Question) != MsgResult::Yes)
                return false;
            image->SetOffline(true);
        }
    }

    // 8. Byte order of the new image; the unit's RAM values follow the same flag.
    s_.context.wordBigEndian = image->GetCreator() != 2;
    s_.device.SetRamByteOrderFlag(s_.context.wordBigEndian);

    // 9. The unit the device serves.
    if (type == EcuType::LH23 || type == EcuType::EZK || type == EcuType::LH22)
        s_.device.SelectEcuMode('L');
    else if (type == EcuType::EZF)
        s_.device.SelectEcuMode('E');

    // 10. Into its slot.
    const EcuType oldType = old.GetECUType();
    std::unique_ptr<EPROM>& slot = image->GetECUFunction() == 1 ? s_.images.fuel : s_.images.ignition;
    if (slotReplaced_) slotReplaced_(&slot == &s_.images.fuel);
    slot = std::move(image);
    s_.view.ImagesChanged();
    RefreshInfoLine();

    // 11. Tabs and menus.
    if (const auto state = LeaveStateFor(oldType)) SetTabState(*state);
    if (const auto state = EnterStateFor(type)) SetTabState(*state);
    s_.view.SetSaveMenus(s_.images.fuel->GetECUType() != EcuType::Unknown,
                         s_.images.ignition->GetECUType() != EcuType::Unknown);

    // 12. Recent files.
    if (fromFile) {
        recent_.Add(source.path);
        RefreshRecentMenu();
    }
    return true;
}

void ImageWorkflows::ShowLoadMessage(const std::string& message) {
    // A Cancel in the ignition guidance is the user's choice, not an error.
    if (message == kCancelledByUser)
        s_.messages.MessageBox(message, "Kestrovane", MsgButtons::OK, MsgIcon::Information);
    else
        s_.messages.MessageBox(message, "Error", MsgButtons::OK, MsgIcon::Critical);
}

bool ImageWorkflows::HasOfflineImage() const { return s_.images.fuel->IsOffline() || s_.images.ignition->IsOffline(); }

bool ImageWorkflows::LoadOfflineIntoModule() {
    bool all = true;
    for (EPROM* image : {s_.images.fuel.get(), s_.images.ignition.get()}) {
        if (!image->IsOffline()) continue;
        const std::string message = image->LoadToEmulator();
        if (!message.empty() || image->IsOffline()) {
            ShowLoadMessage(message.empty() ? kDeviceNotResponding : message);
            all = false;
        }
        RefreshInfoLine();
    }
    return all;
}

bool ImageWorkflows::OpenRecent(int i) {
    if (i < 1 || i > kRecentFileCount) return false;
    const std::string path = recent_.Entries()[static_cast<std::size_t>(i - 1)];
    if (path.empty()) return false;
    return FileOpen(OpenSource::File(path));
}

std::optional<int> ImageWorkflows::WaitForUnits(int mask) {
    int status = -1;
    const std::string message = WaitForModules(s_.context, mask, status);
    s_.progress.CloseProgress();
    if (message == kCancelledByUser) return std::nullopt;
    if (!message.empty()) {
        s_.messages.MessageBox(message, "Kestrovane", MsgButtons::OK, MsgIcon::Critical);
        return std::nullopt;
    }
    return status < 0 ? 0 : (status & 3);
}

void ImageWorkflows::Download() {
    bool any = false;
    for (int unit : {1, 2}) {
        if (s_.device.PemIsReachable(unit)) {
            any = true;
            FileOpen(OpenSource::Running(unit));
        }
    }
    if (any) return;

    constexpr int kWanted = 3; // LH and EZK
    auto found = WaitForUnits(kWanted);
    if (!found) return;
    if (*found == 0) {
        s_.messages.MessageBox("No ECUs with Kestrovane Programmable EPROM Modules were detected.", "Kestrovane",
                               MsgButtons::OK, MsgIcon::Information);
        return;
    }
    if ((*found & 1) == 0)
        s_.messages.MessageBox("No LH 2.3 ECU with Kestrovane Programmable EPROM Module was found. Only the EPROM "
                               "from the EZK ECU will be downloaded.",
                               "Kestrovane", MsgButtons::OK, MsgIcon::Information);
    if ((*found & 2) == 0)
        s_.messages.MessageBox("No EZK ECU with Kestrovane Programmable EPROM Module was found. Only the EPROM "
                               "from the LH 2.3 ECU will be downloaded.",
                               "Kestrovane", MsgButtons::OK, MsgIcon::Information);
    for (int unit : {1, 2}) {
        if ((*found & unit) == 0) continue;
        auto image = std::make_unique<EPROM>(s_.context);
        std::string message = image->LoadFromECU_Initiation(unit);
        if (!message.empty()) {
            s_.messages.MessageBox(message, "Kestrovane", MsgButtons::OK, MsgIcon::Critical);
            continue;
        }
        FileOpen(OpenSource::Take(std::move(image)));
    }
    s_.progress.ShowProgress("Finishing up", 2);
    int step = 0;
    std::vector<std::string> unfinished;
    for (int unit : {1, 2}) {
        if ((*found & unit) == 0) continue;
        if (std::string m = FinishModule(s_.context, unit, false); !m.empty()) unfinished.push_back(m);
        s_.progress.UpdateProgress(++step);
    }
    s_.progress.CloseProgress();
    for (const std::string& m : unfinished) s_.messages.MessageBox(m, "Kestrovane", MsgButtons::OK, MsgIcon::Critical);
}

MsgResult ImageWorkflows::SavePrompt(EPROM& image) {
    if (!image.HasBeenModified()) return MsgResult::No;
    std::string label;
    switch (image.GetECUType()) {
    case EcuType::LH23:
    case EcuType::LH22: label = "fuel injection (LH)"; break;
    case EcuType::EZK: label = "ignition (EZK)"; break;
    case EcuType::EZF: label = "ignition (EZF)"; break;
    case EcuType::Unknown: label = ""; break;
    }
    const std::string name = image.GetFileName().empty() ? "Untitled" : image.GetFileName();
    return s_.messages.MessageBox("Save changes to " + label + " EPROM " + name + "?", "Warning",
                                  MsgButtons::YesNoCancel, MsgIcon::Warning);
}

SaveResult ImageWorkflows::Save(EPROM& image) {
    if (image.GetECUType() == EcuType::Unknown) return SaveResult::OK;
    if (image.GetFileName().empty()) return SaveAs(image);
    bool ok = false;
    {
        Hourglass busy(s_.progress);
        ok = image.SaveToFile(image.GetFileName(), FileFormat::None);
    }
    if (!ok) {
        s_.messages.MessageBox(kSaveFailedMessage, "Error", MsgButtons::OK, MsgIcon::Critical);
        return SaveResult::Cancel;
    }
    RefreshInfoLine();
    return SaveResult::OK;
}

SaveResult ImageWorkflows::SaveAs(EPROM& image) {
    std::string label;
    switch (image.GetECUType()) {
    case EcuType::LH23:
    case EcuType::LH22: label = "LH (fuel)"; break;
    case EcuType::EZK: label = "EZK (ignition)"; break;
    case EcuType::EZF: label = "EZF (ignition)"; break;
    case EcuType::Unknown: label = ""; break;
    }
    FileFormat format = image.GetFileFormat();
    if (format == FileFormat::None) format = image.GetDefaultSaveFormat();
    auto file = s_.files.SaveFileDialog("Save " + label + " EPROM image", image.GetFileDialogFormats(), ".bin",
                                        image.GetFileName(), image.FileFormat2FileDialogFormat(format));
    if (!file || file->path.empty()) return SaveResult::Cancel;
    bool ok = false;
    {
        Hourglass busy(s_.progress);
        ok = image.SaveToFile(file->path, image.FileDialogFormat2FileFormat(file->filterIndex));
    }
    RefreshInfoLine();
    if (!ok) {
        // A failed save is not a saved image: the caller (a save prompt before closing or
        // replacing the image) must not go on as if it were.
        s_.messages.MessageBox(kSaveFailedMessage, "Error", MsgButtons::OK, MsgIcon::Critical);
        return SaveResult::Cancel;
    }
    recent_.Add(file->path);
    RefreshRecentMenu();
    return SaveResult::OK;
}

SaveResult ImageWorkflows::SaveBoth() {
    if (Save(*s_.images.fuel) == SaveResult::Cancel) return SaveResult::Cancel;
    return Save(*s_.images.ignition);
}

bool ImageWorkflows::OfferSaveBeforeClose() {
    for (EPROM* image : {s_.images.fuel.get(), s_.images.ignition.get()}) {
        if (imageLeaving_) imageLeaving_(*image);
        const MsgResult r = SavePrompt(*image);
        if (r == MsgResult::Cancel) return false;
        if (r == MsgResult::Yes && Save(*image) == SaveResult::Cancel) return false;
    }
    return true;
}

void ImageWorkflows::RefreshInfoLine() { s_.view.ShowInfoLine(BuildInfoLine(*s_.images.fuel, *s_.images.ignition)); }

void ImageWorkflows::RefreshRecentMenu() {
    std::array<std::string, kRecentFileCount> captions;
    for (int i = 1; i <= kRecentFileCount; ++i) captions[static_cast<std::size_t>(i - 1)] = recent_.MenuCaption(i);
    s_.view.ShowRecentFiles(captions);
}

void ImageWorkflows::RefreshMenus() {
    s_.view.SetSaveMenus(s_.images.fuel->GetECUType() != EcuType::Unknown,
                         s_.images.ignition->GetECUType() != EcuType::Unknown);
    RefreshRecentMenu();
}

} // namespace kv
