#include "eprom/base_images.h"

#include "eprom/eprom_image.h"
#include "platform/resources.h"

namespace kv {

namespace {

bool EndsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

bool UnderRevisionPolicy(const EPROM& image) {
    const EcuType type = image.GetECUType();
    return type == EcuType::LH23 || type == EcuType::EZK;
}

} // namespace

const std::vector<std::string>& BaseImageNames() {
    static const std::vector<std::string> kNames = {
        "MRX_D",        "MRX_D-SUPERMAF",    "EZK_D-S4",          "EZK_D-GT",
        "EZK_D-GTS",    "EZK_D-S4-SUPERMAF", "EZK_D-GT-SUPERMAF", "EZK_D-GTS-SUPERMAF",
        "MRX_LH22_USA", "MRX_LH22_EURO",     "EZF_USA",           "EZF_EURO"};
    return kNames;
}

std::string LoadBaseImage(const std::string& resourceName, EPROM& into) {
    const auto resource = LoadResource(resourceName);
    if (!resource) return kBaseImageNotSupported;
    return into.LoadFromArray(UnpackResource(*resource));
}

RevisionDecision DecideRevision(const EPROM& image) {
    if (!UnderRevisionPolicy(image)) return RevisionDecision::Keep;
    const int revision = image.GetRevision();
    if (revision > kCurrentRevision) return RevisionDecision::Refuse;
    if (revision < kCurrentRevision) return RevisionDecision::Upgrade;
    return RevisionDecision::Keep;
}

std::string LaterVersionMessage(int major, int minor, int revision) {
    return "The selected EPROM image was created in a later version of the Kestrovane software and is not "
           "compatible with this version (" +
           std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(revision) +
           "). \r\n\r\nPlease contact Dravenholt to get the latest version of the software.";
}

std::string UpgradeQuestion() {
    return "The selected EPROM image was created in an earlier version of Kestrovane. It will now "
           "automatically be upgraded to the new version compatible with this version of Kestrovane. "
           "Note that if you then save the image, it will NOT be compatible with older versions of Kestrovane. "
           "\r\n\r\nClick OK to continue or Cancel to cancel loading the image.";
}

std::string SuperMAFQuestion() {
    return "Is the car equipped with a SuperMAF?\r\n\r\n"
           "(In previous versions of Kestrovane the EZK EPROM was the same no matter if you had a standard MAF or a "
           "SuperMAF. This is no longer the case with this version of Kestrovane. There are two versions of the EZK "
           "EPROM, one for standard MAF and another one for SuperMAF. If your car has a SuperMAF, click Yes, otherwise "
           "click No.)";
}

bool UpgradeAsksForSuperMAF(const EPROM& image) {
    return image.GetECUType() == EcuType::EZK && image.GetRevision() < 7;
}

std::string UpgradeBaseName(const EPROM& image, bool carHasSuperMAF) {
    const bool superMAF = UpgradeAsksForSuperMAF(image) ? carHasSuperMAF : image.LH23EZK_GetMAFType() == "SuperMAF";
    switch (image.GetECUType()) {
    case EcuType::LH23: return std::string("MRX_D") + (superMAF ? kSuperMAFSuffix : "");
    case EcuType::EZK: return std::string("EZK_D-S4") + (superMAF ? kSuperMAFSuffix : "");
    default: return "";
    }
}

std::string UpgradeFromBaseImage(EPROM& image, const std::string& baseName) {
    EPROM base(image.Context());
    if (!LoadBaseImage(baseName, base).empty()) return kUpgradeFailed;
    if (base.GetECUType() != image.GetECUType() || !UnderRevisionPolicy(base)) return kUpgradeFailed;
    image.UpgradeVersion(base, EndsWith(baseName, "SUPERMAF"));
    return "";
}

} // namespace kv
