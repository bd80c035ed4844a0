#pragma once
// The real HID backend of the system. On Windows: the Windows HID API (win_hid_backend.h).
// Elsewhere hidapi lists the devices; on Linux the reports move through the hidraw
// node directly with bounded reads and writes (report_fd.h), elsewhere through hidapi. Input
// reports are normalised to 33 bytes with the report ID 0 first: hidraw delivers the 32 data
// bytes of a device without numbered reports.
#include "device/hid_backend.h"

#include <memory>

namespace kv {

// A backend for the real device; the HID library is initialised on first use. Never null.
std::unique_ptr<HidBackend> MakeHidapiBackend();

} // namespace kv
