// The image container: buffers, the raw *.bin file format, the modified state, byte and word
// access with write-through to the running unit's EPROM module.
#include "eprom/eprom_image.h"

#include "eprom/edit_step.h"
#include "eprom/eprom_device.h"
#include "platform/file_io.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace kv {

namespace {

constexpr std::uint8_t kErased = 0xFF;

struct FileFormatInfo {
    FileFormat format;
    std::int32_t fileLength;
    const char* name;
    const char* filter;
};

constexpr FileFormatInfo kFileFormats[] = {
    {FileFormat::EPROM27C32, 4096, "27C32 EPROM binary (4 kB)", "27C32 EPROM image (4 kB) (*.bin)|*.bin"},
    {FileFormat::EPROM27C128, 16384, "27C128 EPROM binary (16 kB)", "27C128 EPROM image (16 kB) (*.bin)|*.bin"},
    {FileFormat::EPROM27C256, 32768, "27C256 EPROM binary (32 kB)", "27C256 EPROM image (32 kB) (*.bin)|*.bin"},
    {FileFormat::EPROM27C512, 65536, "27C512 EPROM binary (64 kB)", "27C512 EPROM image (64 kB) (*.bin)|*.bin"},
};

const FileFormatInfo* FindFormat(FileFormat format) {
    for (const auto& f : kFileFormats)
        if (f.format == format) return &f;
    return nullptr;
}

// LH 2.2 and EZF images offer the 4 kB format too.
bool OffersSmallFormat(EcuType type) { return type == EcuType::LH22 || type == EcuType::EZF; }

// The format code of the first entry of the file dialog's filter list.
int FirstFilterCode(EcuType type) {
    return FileFormatCode(OffersSmallFormat(type) ? FileFormat::EPROM27C32 : FileFormat::EPROM27C128);
}

} // namespace

EPROM::EPROM() : context_(&ownContext_) { ResetBuffers(kWindowSize); }

EPROM::EPROM(EpromContext& context) : context_(&context) { ResetBuffers(kWindowSize); }

EPROM::EPROM(const EPROM& other)
    : ownContext_(other.ownContext_), context_(other.context_ == &other.ownContext_ ? &ownContext_ : other.context_),
      image_(other.image_), savedImage_(other.savedImage_), imageSize_(other.imageSize_),
      windowOffset_(other.windowOffset_), fileName_(other.fileName_), fileFingerprint_(other.fileFingerprint_),
      offline_(other.offline_), unconfirmed_(other.unconfirmed_), fileHeld_(other.fileHeld_),
      fileFormat_(other.fileFormat_), kind_(other.kind_), devicePatches_(other.devicePatches_),
      filePatches_(other.filePatches_), epromAddresses_(other.epromAddresses_), ramVariables_(other.ramVariables_),
      bitVariables_(other.bitVariables_) {}

EPROM& EPROM::operator=(const EPROM& other) {
    if (this == &other) return *this;
    ownContext_ = other.ownContext_;
    context_ = other.context_ == &other.ownContext_ ? &ownContext_ : other.context_;
    image_ = other.image_;
    savedImage_ = other.savedImage_;
    imageSize_ = other.imageSize_;
    windowOffset_ = other.windowOffset_;
    fileName_ = other.fileName_;
    fileFingerprint_ = other.fileFingerprint_;
    offline_ = other.offline_;
    unconfirmed_ = other.unconfirmed_;
    fileHeld_ = other.fileHeld_;
    fileFormat_ = other.fileFormat_;
    kind_ = other.kind_;
    devicePatches_ = other.devicePatches_;
    filePatches_ = other.filePatches_;
    epromAddresses_ = other.epromAddresses_;
    ramVariables_ = other.ramVariables_;
    bitVariables_ = other.bitVariables_;
    return *this;
}

void EPROM::ResetBuffers(std::size_t size) {
    image_.assign(size, kErased);
    savedImage_.assign(size, kErased);
    unconfirmed_.clear();
    fileHeld_.clear();
}

std::vector<std::uint8_t> EPROM::FileView(std::int32_t address, std::vector<std::uint8_t> bytes) const {
    for (std::size_t i = 0; i < bytes.size(); ++i)
        if (const auto held = fileHeld_.find(address + static_cast<std::int32_t>(i)); held != fileHeld_.end())
            bytes[i] = held->second;
    return bytes;
}

std::vector<std::uint8_t> EPROM::FileView() const {
    std::vector<std::uint8_t> bytes = image_;
    const std::size_t copy = CopySize();
    for (std::size_t base = 0; copy != 0 && base + copy <= bytes.size(); base += copy)
        for (const auto& [at, value] : fileHeld_) bytes[base + static_cast<std::size_t>(at)] = value;
    return bytes;
}

void EPROM::HoldFileBytes(std::int32_t address, std::int32_t count) {
    const auto copy = static_cast<std::int32_t>(CopySize());
    for (std::int32_t at = std::max(address, 0); at < address + count && at < copy; ++at)
        fileHeld_.emplace(at, image_[static_cast<std::size_t>(at)]);
}

void EPROM::ApplyPatchList(const std::array<std::int32_t, 18>& list) {
    for (std::size_t i = 0; i + 1 < list.size(); i += 2) {
        const std::int32_t address = list[i];
        if (address == 0) continue;
        if (address < 0 || static_cast<std::size_t>(address) >= image_.size()) continue;
        const auto value = static_cast<std::uint8_t>(list[i + 1] & 0xFF);
        const std::size_t copy = CopySize();
        for (std::size_t at = static_cast<std::size_t>(address); at < image_.size(); at += copy) {
            image_[at] = value;
            savedImage_[at] = value;
        }
    }
}

void EPROM::FinishLoadFromBytes() {
    unconfirmed_.clear();
    fileHeld_.clear();
    offline_ = false;
    DecideKind();
    ApplyPatchList(devicePatches_);
    fileName_.clear();
    fileFingerprint_ = 0;
    fileFormat_ = FileFormat::None;
}

void EPROM::FinishLoadFromDevice() {
    unconfirmed_.clear();
    fileHeld_.clear();
    offline_ = false;
    DecideKind(true);
    const auto offset = static_cast<std::size_t>(windowOffset_);
    const auto size = static_cast<std::size_t>(imageSize_);
    for (auto* buffer : {&image_, &savedImage_}) {
        if (offset != 0 && offset < buffer->size()) {
            const std::size_t count = std::min(size, buffer->size() - offset);
            std::copy_n(buffer->begin() + static_cast<std::ptrdiff_t>(offset), count, buffer->begin());
        }
        buffer->resize(size, kErased);
    }
    fileName_.clear();
    fileFingerprint_ = 0;
    fileFormat_ = FileFormat::None;
}

int EPROM::DeviceUnit() const {
    switch (GetECUType()) {
    case EcuType::LH23: return 1;
    case EcuType::EZK: return 2;
    default: return 0;
    }
}

bool EPROM::IsEmptyImage() const {
    return std::all_of(image_.begin(), image_.end(), [](std::uint8_t b) { return b == kErased; });
}

bool EPROM::HasBeenModified() const { return image_ != savedImage_; }

std::string EPROM::LoadFromArray(const std::vector<std::uint8_t>& bytes) {
    image_ = bytes;
    savedImage_ = bytes;
    FinishLoadFromBytes();
    return "";
}

std::string EPROM::LoadFromFile(const std::string& fileName) {
    std::error_code ec;
    const std::filesystem::path path = PathFromUtf8(fileName);
    if (fileName.empty() || !std::filesystem::is_regular_file(path, ec)) return "Failed to open file";
    std::ifstream file(path, std::ios::binary);
    if (!file) return "Failed to open file";

    const auto length = std::filesystem::file_size(path, ec);
    if (ec) return "Failed to open file";
    fileFormat_ = FileFormat::None;
    std::size_t bufferSize = kWindowSize;
    std::streamoff position = 0;
    switch (length) {
    case 4096:
        fileFormat_ = FileFormat::EPROM27C32;
        bufferSize = 4096;
        break;
    case 16384: fileFormat_ = FileFormat::EPROM27C128; break;
    case 32768:
        fileFormat_ = FileFormat::EPROM27C256;
        position = 16384; // upper half of a 27C256
        break;
    case 65536:
        fileFormat_ = FileFormat::EPROM27C512;
        position = 3 * 16384; // top quarter of a 27C512
        break;
    default: return "Unrecognized file format";
    }
    const FileFormat format = fileFormat_;
    ResetBuffers(bufferSize);
    file.seekg(position);
    file.read(reinterpret_cast<char*>(savedImage_.data()), static_cast<std::streamsize>(savedImage_.size()));
    if (!file || file.gcount() != static_cast<std::streamsize>(savedImage_.size())) {
        // image stays erased; savedImage holds what was read
        return "Error when reading file";
    }
    image_ = savedImage_;
    FinishLoadFromBytes();
    fileName_ = fileName;
    fileFormat_ = format;
    const Parsed<std::vector<std::uint8_t>> whole = ReadRegularFile(fileName, static_cast<std::size_t>(length));
    fileFingerprint_ = whole ? ContentFingerprint(*whole) : 0;
    return "";
}

bool EPROM::SaveToFile(const std::string& fileName, FileFormat format) {
    lastSaveError_.clear();
    if (fileName.empty()) {
        lastSaveError_ = "No file name given";
        ApplyPatchList(devicePatches_);
        return false;
    }
    if (format == FileFormat::None) format = fileFormat_;
    if (format == FileFormat::None) format = GetDefaultSaveFormat();
    const FileFormatInfo* info = FindFormat(format);
    const auto fileLength = info ? static_cast<std::size_t>(info->fileLength) : 0;
    // One copy of the image, repeated back to back, fills the file (an LH 2.2 image in a 16 kB
    // buffer gives a 27C32 file once and a 27C256 file eight times); a length that the copy does
    // not divide would not load again.
    const std::size_t copy = CopySize();
    const bool sound = info != nullptr && copy != 0 && fileLength >= copy && fileLength % copy == 0;
    if (!sound) {
        lastSaveError_ = info == nullptr ? "Unknown file format " + std::to_string(FileFormatCode(format))
                                         : "The image does not fit the " + std::string(info->name) + " format";
        ApplyPatchList(devicePatches_);
        return false;
    }

    ApplyPatchList(filePatches_); // the file receives the unpatched bytes
    std::vector<std::uint8_t> bytes;
    bytes.reserve(fileLength);
    for (std::size_t n = fileLength / copy; n > 0; --n)
        bytes.insert(bytes.end(), image_.begin(), image_.begin() + static_cast<std::ptrdiff_t>(copy));
    for (std::size_t base = 0; base < fileLength; base += copy)
        for (const auto& [at, value] : fileHeld_) bytes[base + static_cast<std::size_t>(at)] = value;
    lastSaveError_ = SaveFileAtomically(fileName, bytes);
    if (!lastSaveError_.empty()) {
        ApplyPatchList(devicePatches_);
        return false;
    }

    // Every copy in the buffer is now the one that was saved.
    for (std::size_t base = copy; base + copy <= image_.size(); base += copy)
        std::copy_n(image_.begin(), copy, image_.begin() + static_cast<std::ptrdiff_t>(base));
    savedImage_ = image_;
    for (std::size_t base = 0; base + copy <= savedImage_.size(); base += copy)
        for (const auto& [at, value] : fileHeld_) savedImage_[base + static_cast<std::size_t>(at)] = value;
    fileName_ = fileName;
    fileFingerprint_ = ContentFingerprint(bytes);
    fileFormat_ = format;
    ApplyPatchList(devicePatches_);
    if (context_->saved) context_->saved(*this);
    return true;
}

std::string EPROM::GetFileDialogFormats() const {
    std::string result;
    for (const auto& f : kFileFormats) {
        if (f.format == FileFormat::EPROM27C32 && !OffersSmallFormat(GetECUType())) continue;
        if (!result.empty()) result += "|";
        result += f.filter;
    }
    return result;
}

FileFormat EPROM::FileDialogFormat2FileFormat(int index) const {
    if (index < 1 || index > 4) return FileFormat::None;
    return FileFormatOfCode(FirstFilterCode(GetECUType()) + index - 1).value_or(FileFormat::None);
}

int EPROM::FileFormat2FileDialogFormat(FileFormat format) const {
    const int code = FileFormatCode(format);
    const int first = FirstFilterCode(GetECUType());
    return FileFormatOfCode(code) && code >= first ? code - first + 1 : 0;
}

std::string EPROM::GetFileFormatName(FileFormat format) {
    const FileFormatInfo* info = FindFormat(format);
    return info ? info->name : "";
}

std::uint8_t EPROM::ReadByte(std::int32_t address) const {
    if (address < 0 || static_cast<std::size_t>(address) >= image_.size()) return kErased;
    return image_[static_cast<std::size_t>(address)];
}

void EPROM::WriteByte(std::int32_t address, std::uint8_t value) {
    if (address < 0 || static_cast<std::size_t>(address) >= image_.size()) return;
    WriteBlock(address, {value});
}

void EPROM::WriteBlock(std::int32_t address, const std::vector<std::uint8_t>& data) {
    // Only the part of the block that lies inside the image (one copy of it) is sent and stored.
    const std::int64_t size = static_cast<std::int64_t>(CopySize());
    const std::int64_t first = std::max<std::int64_t>(address, 0);
    const std::int64_t last =
        std::min<std::int64_t>(static_cast<std::int64_t>(address) + static_cast<std::int64_t>(data.size()), size);
    if (first >= last) return;
    const auto skip = static_cast<std::ptrdiff_t>(first - address);
    const auto count = static_cast<std::ptrdiff_t>(last - first);
    const std::vector<std::uint8_t> part(data.begin() + skip, data.begin() + skip + count);
    if (context_->beforeWrite) context_->beforeWrite(*this, static_cast<std::int32_t>(first), part);
    if (context_->edits != nullptr) {
        const auto from = image_.begin() + static_cast<std::ptrdiff_t>(first);
        context_->edits->Changing(*this, static_cast<std::int32_t>(first),
                                  std::vector<std::uint8_t>(from, from + count), part);
    }

    const int unit = DeviceUnit();
    if (context_->deviceIO && context_->device != nullptr && unit != 0 && !offline_) {
        // The image keeps the edit either way; what the unit did not acknowledge is recorded.
        const bool confirmed = context_->device->EcuWriteEprom(unit, windowOffset_ + static_cast<int>(first), part);
        const bool hadUnconfirmed = HasUnconfirmedWrites();
        for (std::int64_t a = first; a < last; ++a) {
            if (confirmed)
                unconfirmed_.erase(static_cast<std::int32_t>(a));
            else
                unconfirmed_.insert(static_cast<std::int32_t>(a));
        }
        if (hadUnconfirmed != HasUnconfirmedWrites() && context_->unconfirmedChanged) context_->unconfirmedChanged();
    }
    // A small image loaded from a larger file sits in the buffer once per copy of the EPROM;
    // the unit runs from the top one, so every copy takes the edit.
    const std::size_t copy = CopySize();
    for (std::size_t base = 0; base + copy <= image_.size(); base += copy)
        std::copy_n(data.begin() + skip, count,
                    image_.begin() + static_cast<std::ptrdiff_t>(base + static_cast<std::size_t>(first)));
}

std::size_t EPROM::CopySize() const {
    const auto kindBytes = static_cast<std::size_t>(imageSize_);
    const bool copies = kindBytes != 0 && kindBytes < image_.size() && image_.size() % kindBytes == 0;
    return copies ? kindBytes : image_.size();
}

std::int32_t EPROM::ReadWord(std::int32_t address) const {
    const std::int32_t a = ReadByte(address);
    const std::int32_t b = address == INT32_MAX ? 0xFF : ReadByte(address + 1);
    return context_->wordBigEndian ? a * 256 + b : b * 256 + a;
}

void EPROM::WriteWord(std::int32_t address, std::int32_t value) {
    const auto high = static_cast<std::uint8_t>((value >> 8) & 0xFF);
    const auto low = static_cast<std::uint8_t>(value & 0xFF);
    if (context_->wordBigEndian)
        WriteBlock(address, {high, low});
    else
        WriteBlock(address, {low, high});
}

const std::array<std::uint8_t, 32>& LH23ReferenceTable(int which) {
    static const std::array<std::uint8_t, 32> kTable1 = {27,  33,  37,  38, 25,  30,  32,  32,  34,  46, 50,
                                                         65,  40,  53,  58, 70,  92,  155, 203, 253, 98, 165,
                                                         212, 253, 120, 80, 104, 230, 255, 255, 255, 255};
    static const std::array<std::uint8_t, 32> kTable2 = {31,  33,  37,  38, 25,  30,  32,  32,  36,  49, 50,
                                                         65,  40,  53,  58, 70,  116, 164, 203, 253, 98, 165,
                                                         212, 253, 120, 80, 104, 230, 255, 255, 255, 255};
    return which == 2 ? kTable2 : kTable1;
}

} // namespace kv
