#pragma once
// EPROM: the image of one engine-control unit's EPROM, with its kind, file format, per-kind
// address tables and patch lists. Every access to image bytes, maps and parameters goes
// through this class. Failures are values: loads return an empty string on success and
// otherwise the text to show; saves return true or false.
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "eprom/ecu_type.h"
#include "eprom/file_format.h"

namespace kv {

class EPROM;
class EpromDevice;
class UserMessages;
class ProgressDisplay;
class Clock;
class IgnitionPrompt;
class EditListener;

// Program-wide state that images read; owned by the application shell (one per program) and
// shared by both images. Tests make their own.
struct EpromContext {
    // False during start-up; once true, image edits are written through to the device.
    bool deviceIO = false;
    // Word byte order: true = big-endian (high byte at the lower address). Set after every
    // image load from the image's creator code (creator 2 = little-endian). It also decides how
    // multi-byte ECU RAM values are assembled.
    bool wordBigEndian = true;
    // Where write-through and the device transfers go; null = no device.
    EpromDevice* device = nullptr;
    // Questions and the progress window of the device transfers; null = headless (questions take
    // their headless answer, no progress is shown).
    UserMessages* messages = nullptr;
    ProgressDisplay* progress = nullptr;
    // Waits of the device transfers; null = the real clock.
    Clock* clock = nullptr;
    // Told when a module load asks the user to work the ignition key; null = nobody listens.
    IgnitionPrompt* ignition = nullptr;
    // Called after a write-through when an image's unconfirmed bytes appeared or all went.
    std::function<void()> unconfirmedChanged{};
    // Called with every write to an image (the part inside the image) before the image or the
    // running unit takes it; an edit journal keeps it on disk from there.
    std::function<void(const EPROM& image, std::int32_t address, const std::vector<std::uint8_t>& bytes)> beforeWrite{};
    // Called after an image was saved to its file.
    std::function<void(const EPROM& image)> saved{};
    // Told of every change to an image's bytes and of the user actions bracketing them (EditStep);
    // null = nobody keeps a history.
    EditListener* edits = nullptr;
};

// The name of the SuperMAF conversions' edit step.
inline constexpr const char* kSuperMafStepName = "SuperMAF conversion";

class EPROM {
public:
    static constexpr int kWindowSize = 16384;

    // An empty image: 16 kB of 0xFF, kind 0. Without a context the image uses a private one
    // (device I/O off, big-endian, no device).
    EPROM();
    explicit EPROM(EpromContext& context);
    // Copies share the context of the source, except that a copy of an image with its own private
    // context gets a private context of its own (never a pointer into the source).
    EPROM(const EPROM& other);
    EPROM& operator=(const EPROM& other);
    ~EPROM() = default;

    EpromContext& Context() const { return *context_; }

    // --- container and file format ---
    bool IsEmptyImage() const;
    // Writes the image back to back into a file of the format's length (None = the image's own
    // format, else 27C256). The file is written beside fileName and renamed into place, so a
    // failure never costs an existing file. False when the name is empty, the format is not 1..4,
    // the image cannot fill that length evenly, or writing fails.
    bool SaveToFile(const std::string& fileName, FileFormat format = FileFormat::None);
    // Why the last SaveToFile failed, as a text to show; empty after a successful save.
    const std::string& LastSaveError() const { return lastSaveError_; }
    // "" or "Failed to open file" / "Unrecognized file format" / "Error when reading file". The
    // file's length decides the format; 32 and 64 kB files give their top 16 kB.
    std::string LoadFromFile(const std::string& fileName);
    // Takes the bytes as the image (no window extraction). Always "".
    std::string LoadFromArray(const std::vector<std::uint8_t>& bytes);
    std::string LoadFromEmulator();
    std::string LoadFromECU_Running(int ecu);
    std::string LoadFromECU_Initiation(int ecu);
    // Programs the unit's module while the unit powers up. Each block is read before it is
    // written and the whole image is read back; a load that fails reads the module back and says
    // whether it holds its previous image, the new one whole, a partial image, or did not answer.
    std::string LoadToEmulator();
    // Copies the program parts of a current base image of the same unit over this image, then
    // decides the kind again from the upgraded bytes. Nothing is sent to the device.
    void UpgradeVersion(const EPROM& source, bool toSuperMAF);
    std::string GetFileDialogFormats() const;
    FileFormat GetDefaultSaveFormat() const { return FileFormat::EPROM27C256; }
    // A 1-based filter index of GetFileDialogFormats and the format it stands for; None / 0 for
    // an index or a format that the list does not hold.
    FileFormat FileDialogFormat2FileFormat(int index) const;
    int FileFormat2FileDialogFormat(FileFormat format) const;
    bool HasBeenModified() const;
    std::string GetFileName() const { return fileName_; }
    FileFormat GetFileFormat() const { return fileFormat_; }
    static std::string GetFileFormatName(FileFormat format);
    // Bytes outside the image read as 0xFF; writes outside it are ignored. Writes go through
    // to the unit's module (EcuWriteEprom, address = window offset + address) when device I/O is
    // on, a device is set and the image is LH 2.3 or EZK; only the part of a block inside the
    // image is sent and stored. The image keeps the edit either way; bytes whose write the unit
    // did not acknowledge are recorded as unconfirmed (below), and an acknowledged write of the
    // same bytes confirms them.
    std::uint8_t ReadByte(std::int32_t address) const;
    void WriteByte(std::int32_t address, std::uint8_t value);
    void WriteBlock(std::int32_t address, const std::vector<std::uint8_t>& data);
    // 16-bit unsigned word in the context's byte order.
    std::int32_t ReadWord(std::int32_t address) const;
    void WriteWord(std::int32_t address, std::int32_t value);

    // An offline image is edited without a running unit: its writes stay in the image and never
    // go to a module. Every load ends it; so does a module load (LoadToEmulator) that succeeded.
    bool IsOffline() const { return offline_; }
    void SetOffline(bool offline) { offline_ = offline; }
    // Bytes a file saved now receives in place of the image's own, while a passing state of the
    // running unit holds them (a live tuning run that switched the unit to open loop): Hold
    // keeps the `count` bytes at `address` (one copy) as they are now for the file, Release
    // ends every hold. A save then counts the held bytes as saved; every load ends the holds.
    void HoldFileBytes(std::int32_t address, std::int32_t count);
    void ReleaseFileBytes() { fileHeld_.clear(); }
    bool HoldsFileBytes() const { return !fileHeld_.empty(); }
    // `bytes` to be written at `address` (one copy) as a file would get them: held bytes keep
    // their held value. The whole buffer (every copy) the same way.
    std::vector<std::uint8_t> FileView(std::int32_t address, std::vector<std::uint8_t> bytes) const;
    std::vector<std::uint8_t> FileView() const;
    // Fingerprint (ContentFingerprint) of the whole file as last loaded or saved; 0 without a file.
    std::uint64_t FileFingerprint() const { return fileFingerprint_; }

    // --- write-through confirmation ---
    // The running unit that write-through goes to: 1 (LH) for an LH 2.3 image, 2 (EZK) for an
    // EZK image, 0 for images that are not written through.
    int WriteThroughUnit() const { return DeviceUnit(); }
    // Bytes of the image (one copy) that the running unit's module may not hold because their
    // write-through was refused or not answered. Every load forgets them, and so does a module
    // load that the read-back verified.
    bool HasUnconfirmedWrites() const { return !unconfirmed_.empty(); }
    std::size_t UnconfirmedByteCount() const { return unconfirmed_.size(); }
    // Reads the unconfirmed bytes back from the running unit's module (each stretch until two
    // reads agree) and forgets those the module holds. Returns how many bytes the module does not
    // hold, or nullopt when a stretch could not be read (then nothing is forgotten).
    std::optional<std::size_t> CheckUnconfirmedWrites();
    // Writes the unconfirmed bytes to the running unit's module again and checks them as
    // CheckUnconfirmedWrites does; true when the module holds all of them afterwards.
    bool ResendUnconfirmedWrites();

    // --- map catalogue and axes ---
    std::int32_t ReadMapCell(int mapId, int x, int y) const;
    void WriteMapCell(int mapId, int x, int y, std::int32_t value);
    int GetMapXAxisWidth(int mapId) const;
    std::uint8_t GetMapXAxisPoint(int mapId, int x) const;
    std::uint8_t GetMapYAxisWidth(int mapId) const;
    std::uint8_t GetMapYAxisPoint(int mapId, int y) const;
    std::uint8_t LH_GetRPMAxisPoint(int index) const;
    std::int32_t LH_GetMAFAxisPoint(int index) const;
    std::int32_t EZF_GetLoadAxisPoint(int index) const;
    std::int32_t EZF_GetRPMAxisPoint(int index) const;
    std::uint8_t EZF_GetAirTempAxisPoint(int selector, int index) const;
    std::uint8_t EZF_GetCoolantTempAxisPoint(int selector, int index) const;
    std::int32_t EZK_GetRPMAxisPoint_Bosch(int selector, int index) const;
    std::int32_t GetEZKRPMAxisPoint_MRXC(int selector, int index) const;
    std::int32_t EZK_GetRPMAxisPoint(int selector, int index) const;
    std::int32_t GetMapAddr(int mapId) const;

    // --- kinds and identification ---
    int GetKind() const { return kind_; }
    std::string GetName() const;
    int GetRevision() const;
    std::string LH23EZK_GetMAFType() const;
    int GetCreator() const;
    EcuType GetECUType() const;
    int GetECUFunction() const;
    std::string GetBaseMapsName() const;

    // --- parameters and variables ---
    std::int32_t GetVariableAddress(int n) const;
    std::int32_t GetEPROMAddress(int n) const;
    int GetBitVariableNumber(int n) const;
    void GetBitVariableAddress(int n, std::int32_t& byteAddress, int& mask) const;
    int EZK_GetRPMCompensation(double rpm) const;
    void LH22_EnableO2Loop(bool enable);
    bool LH22_IsO2LoopEnabled() const;
    bool EZK_IsWOTIgnored() const;
    void EZK_SetWOTIgnored(bool ignore);
    int LH23_GetFixedISVPW() const;
    void LH23_SetFixedISVPW(int v);
    bool LH23_IsFixedISVPWEnabled() const;
    void LH23_EnableFixedISVPW(bool enable);

    // --- SuperMAF conversions (each one edit step, kSuperMafStepName) ---
    void LH23_MakeSuperMAF();
    void LH22_MakeSuperMAF();

    // The whole working image (for transfers, diffs and tests).
    const std::vector<std::uint8_t>& Bytes() const { return image_; }
    int ImageSize() const { return imageSize_; }
    int WindowOffset() const { return windowOffset_; }

private:
    // --- load helpers (also used by the device transfers) ---
    // Both buffers sized `size` and filled with 0xFF.
    void ResetBuffers(std::size_t size);
    // Kind set-up for a load from a file or an array: decide the kind, apply the device patch
    // list to both buffers, clear fileName and fileFormat.
    void FinishLoadFromBytes();
    // Kind set-up for a load from the device: decide the kind, move the image window down to 0
    // and cut both buffers to imageSize; no patch list; clear fileName and fileFormat.
    void FinishLoadFromDevice();
    // Decides the kind from the marker bytes of image_, sets imageSize_ and windowOffset_ and
    // fills the per-kind tables and patch lists. fromDeviceWindow: image_ is the device's 16 kB
    // window, from which the image is extracted afterwards.
    void DecideKind(bool fromDeviceWindow = false);
    int DecideRegionKind(bool fromDeviceWindow) const;
    void SetUpKindTables();
    // Stores the low byte of each (address, value) pair with address != 0 in both buffers.
    void ApplyPatchList(const std::array<std::int32_t, 18>& list);
    // Bytes of one copy of the image in the buffer: the kind's image size when the buffer holds
    // it a whole number of times (a small image from a larger file), else the whole buffer.
    std::size_t CopySize() const;
    // Device unit of this image for write-through: 1 (LH) for ECU type 1, 2 (EZK) for type 2, 0 else.
    int DeviceUnit() const;

    // --- map helpers ---
    std::int32_t CellAddress(int mapId, int x, int y) const;
    std::uint8_t StepCodedPoint(std::int32_t blockAddress, int index) const;
    std::int32_t SumBytes(std::int32_t address, int count) const;

    EpromContext ownContext_;
    EpromContext* context_;

    std::vector<std::uint8_t> image_;
    std::vector<std::uint8_t> savedImage_;
    std::int32_t imageSize_ = kWindowSize;
    std::int32_t windowOffset_ = 0;
    std::string fileName_;
    std::uint64_t fileFingerprint_ = 0;
    bool offline_ = false;
    std::string lastSaveError_;
    std::set<std::int32_t> unconfirmed_;            // image addresses (one copy) not acknowledged by the unit
    std::map<std::int32_t, std::uint8_t> fileHeld_; // HoldFileBytes: address (one copy) -> byte
    FileFormat fileFormat_ = FileFormat::None;
    int kind_ = 0;
    std::array<std::int32_t, 18> devicePatches_{};
    std::array<std::int32_t, 18> filePatches_{};
    std::array<std::int32_t, 151> epromAddresses_{}; // index 1..150
    std::array<std::int32_t, 17> ramVariables_{};    // index 1..16
    std::array<std::int32_t, 17> bitVariables_{};    // index 1..16
};

// The two 32-byte reference tables that the fuel parameters page compares with the bytes at
// parameter entry 19; the same for every kind.
const std::array<std::uint8_t, 32>& LH23ReferenceTable(int which);

// The packed resource form of base images and firmware: "FP", mode, tokens. Data that is not
// packed is returned unchanged. Never reads or writes outside its input or output.
std::vector<std::uint8_t> UnpackResource(const std::vector<std::uint8_t>& data);
// The same with a bound: nullopt as soon as the output would grow past maxOutput bytes.
std::optional<std::vector<std::uint8_t>> UnpackResource(const std::vector<std::uint8_t>& data, std::size_t maxOutput);

} // namespace kv
