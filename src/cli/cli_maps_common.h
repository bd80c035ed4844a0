#pragma once
// Shared pieces of the map commands (`map`, `diff`): loading an image the way the program does,
// and rendering one listed map into an in-memory grid through the table editor.
#include "eprom/eprom_image.h"
#include "maps/map_definitions.h"
#include "maps/rendered_map.h"
#include "platform/silent_dialogs.h"

#include <memory>
#include <optional>
#include <ostream>
#include <string>

namespace kv {

namespace cli_maps {

// Dialogs of a tool without a window: every question is cancelled, nothing is shown.
using NoDialogs = SilentDialogs;

// Loads FILE; the word byte order follows the image's creator, as after every load in the
// program. Prints the load's message and returns false when it fails.
inline bool LoadImage(EPROM& image, EpromContext& context, const std::string& path, std::ostream& err) {
    const std::string message = image.LoadFromFile(path);
    if (!message.empty()) {
        err << message << "\n";
        return false;
    }
    context.wordBigEndian = image.GetCreator() != 2;
    return true;
}

// The tab whose list holds the image's maps.
inline MapTab TabOf(const EPROM& image) { return MapTabOf(image); }

// The definition of a map listed for this image under exactly `name`; null if the image does not
// list it.
inline const MapDefinition* ListedMap(const EPROM& image, const std::string& name) {
    for (auto text : MapListForImage(image))
        if (text == name) return FindMapDefinition(TabOf(image), text);
    return nullptr;
}

// An editor bound to an in-memory grid, configured for one map and rendered.
using RenderedMap = kv::RenderedMap;

} // namespace cli_maps

} // namespace kv
