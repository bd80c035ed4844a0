#include "eprom/edit_step.h"

#include "eprom/eprom_image.h"

namespace kv {

EditStep::EditStep(EpromContext& context, const std::string& name) : listener_(context.edits) {
    if (listener_ != nullptr) listener_->BeginStep(name);
}

EditStep::~EditStep() {
    if (listener_ != nullptr) listener_->EndStep();
}

} // namespace kv
