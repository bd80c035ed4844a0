// EPROM kinds: recognition from the marker bytes, identification, and the per-kind address
// tables and patch lists filled when the kind is decided.
#include "eprom/eprom_image.h"

#include <algorithm>
#include <initializer_list>
#include <utility>

namespace kv {

namespace {

struct KindInfo {
    const char* name;
    EcuType ecuType;
    int ecuFunction;
    int creator;
    std::int32_t imageSize;
    std::int32_t windowOffset;
    std::int32_t revisionAddress; // -1: the kind has no revision byte
};

constexpr KindInfo kKinds[] = {
    {"", EcuType::Unknown, 0, 1, 16384, 0, -1},
    {"928 LH S4/GT/GTS Dravenholt Type A", EcuType::LH23, 1, 1, 16384, 0, -1},
    {"928 LH S4/GT/GTS Dravenholt Type C", EcuType::LH23, 1, 2, 16384, 0, -1},
    {"928 LH S4/GT/GTS", EcuType::LH23, 1, 1, 16384, 0, 16367},
    {"928 EZK S4/GT/GTS Dravenholt Type A", EcuType::EZK, 2, 1, 16384, 0, -1},
    {"928 EZK S4/GT/GTS", EcuType::EZK, 2, 1, 16384, 0, 16357},
    {"928 LH '85 - '86 32-valve USA", EcuType::LH22, 1, 1, 4096, 12288, 4059},
    {"928 LH S2 16-valve Euro", EcuType::LH22, 1, 1, 4096, 12288, 4059},
    {"928 EZF", EcuType::EZF, 2, 1, 2048, 14336, 1791},
};

const KindInfo& Info(int kind) { return kKinds[(kind >= 0 && kind <= 8) ? kind : 0]; }

// Marker areas in the 16 kB window.
constexpr std::int32_t kLHMarker = 16368;
constexpr std::int32_t kEZKMarker = 16352;
constexpr std::int32_t kBuildText = 16128;
constexpr std::int32_t kBuildTextLength = 128;
constexpr std::int32_t kEZKBaseMapsName = 16358;
constexpr std::int32_t kEZKSuperMAFFlag = 16363;

// Region markers just before the revision byte of the small kinds (image offsets).
constexpr std::int32_t kLH22RegionMarker = 4057;
constexpr std::int32_t kEZFRegionMarker = 1790;
constexpr std::int32_t kLH22Window = 12288;
constexpr std::int32_t kEZFWindow = 14336;

using Entries = std::initializer_list<std::pair<int, std::int32_t>>;

// Parameter (1..61), map (101..143) and axis entries of each kind.
constexpr Entries kLH23Addresses = {{1, 12364},   {2, 16373},   {3, 12411},   {4, 12388},   {5, 14733},   {6, 14731},
                                    {7, 12357},   {8, 12356},   {9, 16374},   {10, 14737},  {11, 12350},  {12, 12352},
                                    {13, 14644},  {14, 12462},  {15, 12806},  {16, 12808},  {17, 12426},  {18, 12412},
                                    {19, 14848},  {20, 12591},  {21, 1613},   {22, 12370},  {23, 12371},  {24, 12560},
                                    {25, 12552},  {26, 12330},  {27, 12331},  {28, 12429},  {100, 13019}, {101, 13568},
                                    {102, 13824}, {103, 13056}, {104, 14200}, {105, 14236}, {106, 14112}, {107, 14144},
                                    {108, 14176}, {109, 14188}, {110, 14662}, {111, 14680}, {112, 14350}};
constexpr Entries kEZKAddresses = {{29, 4528},  {30, 4544},  {31, 4560},  {32, 4864},  {33, 4592},  {34, 16204},
                                   {35, 4784},  {36, 5808},  {37, 6832},  {38, 2931},  {39, 2936},  {40, 2957},
                                   {41, 3067},  {113, 4496}, {114, 4480}, {115, 4512}, {116, 4096}, {117, 5120},
                                   {118, 6144}, {119, 4880}, {120, 5904}, {121, 6928}, {122, 4896}, {123, 5920},
                                   {124, 6944}, {125, 4832}, {126, 5856}, {127, 6880}};
constexpr Entries kLH22Addresses = {{42, 3253},  {43, 2976},  {44, 2972},  {45, 3028},  {46, 3232},  {47, 1213},
                                    {48, 1211},  {49, 1221},  {50, 1579},  {51, 1577},  {52, 108},   {53, 3150},
                                    {54, 2117},  {128, 768},  {129, 2304}, {130, 2853}, {131, 2838}, {132, 2086},
                                    {133, 2050}, {134, 2103}, {135, 2135}};
constexpr Entries kEZFAddresses = {{55, 2040},  {56, 2041},  {57, 2044},  {58, 110},   {59, 554},   {60, 559},
                                   {61, 576},   {136, 768},  {137, 1728}, {138, 1744}, {139, 1682}, {140, 1677},
                                   {141, 1662}, {142, 1667}, {143, 1657}, {144, 1634}, {145, 1618}, {146, 1712},
                                   {147, 1707}, {148, 1692}, {149, 1697}, {150, 1687}};

constexpr Entries kLH23RamVariables = {{1, 29},  {2, 72},  {3, 63292},  {4, 63304}, {5, 63303}, {6, 63301},
                                       {7, 41},  {8, 89},  {9, 63299},  {10, 49},   {11, 85},   {12, 77},
                                       {13, 52}, {14, 94}, {15, 63332}, {16, 63341}};
constexpr Entries kEZKRamVariables = {{1, 106}, {2, 84}, {3, 123}, {4, 131}, {5, 65}, {6, 57}, {7, 134}, {8, 56}};

constexpr Entries kLH23BitVariables = {{1, 42}, {2, 108}, {3, 110}, {4, 102}, {5, 63}};
constexpr Entries kEZKBitVariables = {{1, 18}, {2, 17},  {3, 50},  {4, 51},  {5, 44},  {6, 43},  {7, 41}, {8, 40},
                                      {9, 42}, {10, 47}, {11, 45}, {12, 52}, {13, 53}, {14, 22}, {15, 0}, {16, 20}};

constexpr std::array<std::int32_t, 18> kLH23DevicePatches = {12462, 1,     84, 176,   11302, 176,   9575, 0,     9576,
                                                             0,     10065, 0,  10066, 0,     10104, 0,    10105, 0};
constexpr std::array<std::int32_t, 18> kLH23FilePatches = {12462, 0,     84,  144,   11302, 144,   9575, 194,   9576,
                                                           177,   10065, 194, 10066, 177,   10104, 194,  10105, 177};
constexpr std::array<std::int32_t, 18> kEZKDevicePatches = {1233, 62, 1234, 240, 1087, 176};
constexpr std::array<std::int32_t, 18> kEZKFilePatches = {1233, 32, 1234, 3, 1087, 0};

template <std::size_t N>
void Fill(std::array<std::int32_t, N>& table, Entries entries) {
    for (const auto& [index, value] : entries) table[static_cast<std::size_t>(index)] = value;
}

} // namespace

// The small kinds carry a region marker just before their revision byte. Where the marker must
// be depends on the buffer:
// - a 4 kB file holds an LH 2.2 image, or an EZF image twice (both copies must carry it);
// - a 2 kB array is an EZF image;
// - the device's 16 kB window holds the image at its window offset (extracted afterwards);
// - a 16 kB file buffer is not extracted: the image is read from address 0, so the marker must be
//   in the first copy as well as at the window offset (a 27C128 file holds the image back to back).
int EPROM::DecideRegionKind(bool fromDeviceWindow) const {
    const std::size_t size = image_.size();
    const bool window = size >= static_cast<std::size_t>(kWindowSize);
    const auto lh22At = [this](std::int32_t base) -> int {
        if (ReadByte(base + kLH22RegionMarker) != 'M') return 0;
        const std::uint8_t region = ReadByte(base + kLH22RegionMarker + 1);
        return region == 'U' ? 6 : region == 'E' ? 7 : 0;
    };
    const auto ezfAt = [this](std::int32_t base) { return ReadByte(base + kEZFRegionMarker) == 'M'; };

    if (size == 4096) {
        if (const int k = lh22At(0)) return k;
        return ezfAt(0) && ezfAt(2048) ? 8 : 0;
    }
    if (size == 2048) return ezfAt(0) ? 8 : 0;
    if (!window) return 0;
    if (const int k = lh22At(kLH22Window); k != 0 && (fromDeviceWindow || lh22At(0) == k)) return k;
    if (ezfAt(kEZFWindow) && (fromDeviceWindow || ezfAt(0))) return 8;
    return 0;
}

void EPROM::DecideKind(bool fromDeviceWindow) {
    const auto text = [this](std::int32_t address, std::int32_t length) {
        std::string s;
        for (std::int32_t i = 0; i < length; ++i) s += static_cast<char>(ReadByte(address + i));
        return s;
    };
    const std::string lhMarker = text(kLHMarker, 5);
    const std::string ezkMarker = text(kEZKMarker, 5);
    const std::string buildText = text(kBuildText, kBuildTextLength);

    int kind = 0;
    if (lhMarker == std::string("MRX\xFF\xFF", 5)) kind = 1;
    if (lhMarker == "MRX-D") kind = 3;
    if (lhMarker == std::string("\x22MR\x93\x22", 5)) kind = 3;
    if (ezkMarker == "MRX-A") kind = 4;
    if (ezkMarker == "MRX-D") kind = 5;
    // The small kinds only where no 16 kB kind matched, so that bytes of an LH 2.3 or EZK image
    // that happen to look like a region marker never decide the kind.
    if (kind == 0) kind = DecideRegionKind(fromDeviceWindow);
    if (buildText.find("MRX-C") != std::string::npos) {
        kind = 2;
        devicePatches_.fill(0);
        filePatches_.fill(0);
    }
    kind_ = kind;
    imageSize_ = Info(kind).imageSize;
    windowOffset_ = Info(kind).windowOffset;
    SetUpKindTables();
}

void EPROM::SetUpKindTables() {
    switch (kind_) {
    case 3:
        Fill(epromAddresses_, kLH23Addresses);
        Fill(ramVariables_, kLH23RamVariables);
        Fill(bitVariables_, kLH23BitVariables);
        devicePatches_ = kLH23DevicePatches;
        filePatches_ = kLH23FilePatches;
        break;
    case 5:
        Fill(epromAddresses_, kEZKAddresses);
        Fill(ramVariables_, kEZKRamVariables);
        Fill(bitVariables_, kEZKBitVariables);
        devicePatches_ = kEZKDevicePatches;
        filePatches_ = kEZKFilePatches;
        break;
    case 6:
    case 7: Fill(epromAddresses_, kLH22Addresses); break;
    case 8: Fill(epromAddresses_, kEZFAddresses); break;
    default: break; // kinds without tables keep what they had
    }
}

std::string EPROM::GetName() const { return Info(kind_).name; }

int EPROM::GetRevision() const {
    const std::int32_t address = Info(kind_).revisionAddress;
    return address < 0 ? 0 : ReadByte(address);
}

std::string EPROM::LH23EZK_GetMAFType() const {
    switch (GetECUType()) {
    case EcuType::LH23: return ReadWord(GetMapAddr(3) + 30) != 0 ? "Standard MAF" : "SuperMAF";
    case EcuType::EZK: return ReadByte(kEZKSuperMAFFlag) == 1 ? "SuperMAF" : "Standard MAF";
    default: return "";
    }
}

int EPROM::GetCreator() const { return Info(kind_).creator; }

EcuType EPROM::GetECUType() const { return Info(kind_).ecuType; }

int EPROM::GetECUFunction() const { return Info(kind_).ecuFunction; }

std::string EPROM::GetBaseMapsName() const {
    if (GetECUType() != EcuType::EZK) return "";
    std::string name;
    for (std::int32_t i = 0; i < 5; ++i) {
        const std::uint8_t b = ReadByte(kEZKBaseMapsName + i);
        name += b == 0xFF ? ' ' : static_cast<char>(b);
    }
    const auto first = name.find_first_not_of(' ');
    if (first == std::string::npos) return "";
    const auto last = name.find_last_not_of(' ');
    return name.substr(first, last - first + 1);
}

} // namespace kv
