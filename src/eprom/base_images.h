#pragma once
// Built-in base images: loading one by resource name, and the revision policy that decides
// whether an opened image is refused, kept or upgraded from a base image. Qt-free, shared by the
// command-line tool and the program's File menu.
#include <string>
#include <vector>

namespace kv {

class EPROM;

// The message for a resource name that has no base image.
inline constexpr const char* kBaseImageNotSupported = "Sorry, the selected EPROM is not yet supported";
// The message when the base image of an upgrade cannot be loaded.
inline constexpr const char* kUpgradeFailed = "Upgrading of the EPROM image failed";
// Appended to a base name for a car with a SuperMAF.
inline constexpr const char* kSuperMAFSuffix = "-SUPERMAF";
// The revision that the program's LH 2.3 and EZK base images carry.
inline constexpr int kCurrentRevision = 8;

// Resource names of all base images: the LH 2.3 and EZK images (standard and SuperMAF), then
// the LH 2.2 and EZF images.
const std::vector<std::string>& BaseImageNames();

// Loads the base image `resourceName` (packed or raw) into `into` with LoadFromArray. Returns ""
// on success, kBaseImageNotSupported when no such resource exists (into is unchanged then).
std::string LoadBaseImage(const std::string& resourceName, EPROM& into);

// What the revision policy does with a freshly loaded image.
enum class RevisionDecision {
    Keep,    // LH 2.2, EZF, unknown kinds, and LH 2.3 / EZK images of the current revision
    Refuse,  // LH 2.3 / EZK image of revision 9 or more: made by a later version
    Upgrade, // LH 2.3 / EZK image below the current revision (also kinds without a revision byte)
};
RevisionDecision DecideRevision(const EPROM& image);

// The text shown for a refused image; the program's version goes into it.
std::string LaterVersionMessage(int major, int minor, int revision);
// The OK/Cancel question asked before an upgrade.
std::string UpgradeQuestion();
// The Yes/No/Cancel question asked for an EZK image below revision 7.
std::string SuperMAFQuestion();

// True when the base name of the upgrade depends on the answer to SuperMAFQuestion (EZK below
// revision 7); otherwise the old image's own MAF type decides.
bool UpgradeAsksForSuperMAF(const EPROM& image);

// The base image name of the upgrade: "MRX_D" for LH 2.3, "EZK_D-S4" for EZK, each with
// "-SUPERMAF" for a SuperMAF car. carHasSuperMAF is used only where UpgradeAsksForSuperMAF is
// true. Empty for images that are not LH 2.3 or EZK.
std::string UpgradeBaseName(const EPROM& image, bool carHasSuperMAF);

// Loads the base image `baseName` and upgrades `image` from it (toSuperMAF when the name ends in
// "SUPERMAF"). Returns "" on success and kUpgradeFailed when the base image cannot be loaded or is
// not of the image's unit (the image is unchanged then).
std::string UpgradeFromBaseImage(EPROM& image, const std::string& baseName);

} // namespace kv
