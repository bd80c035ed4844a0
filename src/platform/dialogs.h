#pragma once
// Everything a user interface offers at once: messages, file dialogs, progress and clipboard.
// The Qt program, the command-line tool and the test fakes implement it in one object; the code
// that uses dialogs takes only the narrow interfaces it needs, and the composition roots hand
// this object to each of them.
#include "platform/clipboard.h"
#include "platform/file_dialogs.h"
#include "platform/messages.h"
#include "platform/progress.h"

namespace kv {

class UserDialogs : public UserMessages, public FileDialogs, public ProgressDisplay, public Clipboard {};

} // namespace kv
