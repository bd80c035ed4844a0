#include "app/core/unconfirmed_edits.h"

#include "app/core/image_workflows.h"
#include "app/core/shell_device.h"
#include "eprom/eprom_image.h"
#include "platform/messages.h"

namespace kv {

namespace {

const char* const kImageNames[] = {"fuel", "ignition"};

std::string OfferText(std::size_t bytes, const char* image) {
    return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes") + " of the " + image +
           " image that you edited while the unit did not answer " + (bytes == 1 ? "is" : "are") +
           " not in the unit's EPROM Module. Send " + (bytes == 1 ? "it" : "them") + " to the unit now?";
}

} // namespace

UnconfirmedEdits::UnconfirmedEdits(ImageSlots& slots, ShellDevice& device, UserMessages& messages)
    : slots_(slots), device_(device), messages_(messages) {}

void UnconfirmedEdits::Tick() {
    if (busy_) return;
    busy_ = true;
    EPROM* images[] = {slots_.fuel.get(), slots_.ignition.get()};
    for (std::size_t slot = 0; slot < 2; ++slot) {
        EPROM* image = images[slot];
        if (image == nullptr || !image->HasUnconfirmedWrites()) {
            asked_[slot] = false;
            continue;
        }
        const int unit = image->WriteThroughUnit();
        const bool answers = unit != 0 && device_.IsOpen() && device_.IsIgnitionOn() && device_.PemIsReachable(unit);
        if (!answers) {
            asked_[slot] = false;
            continue;
        }
        if (asked_[slot]) continue;
        const std::optional<std::size_t> missing = image->CheckUnconfirmedWrites();
        if (!missing || *missing == 0) continue; // unreadable: try on the next tick
        asked_[slot] = true;
        if (messages_.MessageBox(OfferText(*missing, kImageNames[slot]), "Kestrovane", MsgButtons::YesNo,
                                 MsgIcon::Question) != MsgResult::Yes)
            continue;
        if (!image->ResendUnconfirmedWrites())
            messages_.MessageBox("The edits could not be sent to the unit. They stay in the image and the status bar "
                                 "shows \"" +
                                     std::string(kNotInUnitText) + "\" until the unit holds them.",
                                 "Kestrovane", MsgButtons::OK, MsgIcon::Warning);
    }
    busy_ = false;
}

std::string UnconfirmedEdits::StatusText() const {
    for (const EPROM* image : {slots_.fuel.get(), slots_.ignition.get()})
        if (image != nullptr && image->HasUnconfirmedWrites()) return kNotInUnitText;
    return {};
}

} // namespace kv
