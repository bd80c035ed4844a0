// The Win32 calls of the Windows HID backend, and the program's real HID backend on Windows.
#include "device/hidapi_backend.h"
#include "device/win_hid_backend.h"

#include <windows.h>

// The HID header of MinGW-w64 declares its functions without C linkage.
extern "C" {
#include <hidsdi.h>
}
#include <setupapi.h>

#include <vector>

namespace kv {

namespace {

HANDLE AsHandle(WinHandle h) { return reinterpret_cast<HANDLE>(h); }

class Win32HidCalls final : public WinHidCalls {
public:
    // One manual-reset event serves every transfer: at most one is in flight.
    Win32HidCalls() : event_(::CreateEventA(nullptr, TRUE, TRUE, nullptr)) {}
    ~Win32HidCalls() override {
        CloseInterfaceList();
        if (event_) ::CloseHandle(event_);
    }
    Win32HidCalls(const Win32HidCalls&) = delete;
    Win32HidCalls& operator=(const Win32HidCalls&) = delete;

    bool OpenInterfaceList() override {
        CloseInterfaceList();
        ::HidD_GetHidGuid(&hidGuid_);
        list_ = ::SetupDiGetClassDevsA(&hidGuid_, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
        return list_ != INVALID_HANDLE_VALUE;
    }
    std::uint32_t EnumInterface(std::uint32_t index) override {
        interface_ = SP_DEVICE_INTERFACE_DATA{};
        interface_.cbSize = sizeof interface_;
        if (::SetupDiEnumDeviceInterfaces(list_, nullptr, &hidGuid_, index, &interface_)) return 0;
        return ::GetLastError();
    }
    std::uint32_t InterfaceDetailSize(std::uint32_t) override {
        DWORD size = 0;
        ::SetupDiGetDeviceInterfaceDetailA(list_, &interface_, nullptr, 0, &size, nullptr);
        return size;
    }
    std::optional<std::string> InterfaceDetailPath(std::uint32_t, std::uint32_t size) override {
        std::vector<std::uint8_t> buffer(size);
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(buffer.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        if (!::SetupDiGetDeviceInterfaceDetailA(list_, &interface_, detail, size, nullptr, nullptr))
            return std::nullopt;
        return std::string(detail->DevicePath);
    }
    void CloseInterfaceList() override {
        if (list_ != INVALID_HANDLE_VALUE) ::SetupDiDestroyDeviceInfoList(list_);
        list_ = INVALID_HANDLE_VALUE;
    }
    WinHandle OpenPath(const std::string& path) override {
        const HANDLE h = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                       nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
        return h == INVALID_HANDLE_VALUE ? kNoWinHandle : reinterpret_cast<WinHandle>(h);
    }
    bool GetAttributes(WinHandle device, std::uint16_t& vendorId, std::uint16_t& productId) override {
        HIDD_ATTRIBUTES attributes{};
        attributes.Size = sizeof attributes;
        if (!::HidD_GetAttributes(AsHandle(device), &attributes)) return false;
        vendorId = attributes.VendorID;
        productId = attributes.ProductID;
        return true;
    }
    bool GetNumInputBuffers(WinHandle device, std::uint32_t& count) override {
        ULONG n = 0;
        if (!::HidD_GetNumInputBuffers(AsHandle(device), &n)) return false;
        count = n;
        return true;
    }
    bool SetNumInputBuffers(WinHandle device, std::uint32_t count) override {
        return ::HidD_SetNumInputBuffers(AsHandle(device), count) != 0;
    }
    bool FlushQueue(WinHandle device) override { return ::HidD_FlushQueue(AsHandle(device)) != 0; }
    std::uint32_t StartRead(WinHandle device, HidReport& into) override {
        Fresh();
        if (::ReadFile(AsHandle(device), into.data(), kHidReportSize, nullptr, &transfer_)) return 0;
        return Started();
    }
    std::uint32_t StartWrite(WinHandle device, const HidReport& report) override {
        Fresh();
        if (::WriteFile(AsHandle(device), report.data(), kHidReportSize, nullptr, &transfer_)) return 0;
        return Started();
    }
    WinWait WaitTransfer(std::uint32_t ms) override {
        switch (::WaitForSingleObject(event_, ms)) {
        case WAIT_OBJECT_0: return WinWait::Signalled;
        case WAIT_TIMEOUT: return WinWait::TimedOut;
        default: return WinWait::Failed;
        }
    }
    void CancelTransfer(WinHandle device) override {
        ::CancelIo(AsHandle(device));
        DWORD n = 0;
        ::GetOverlappedResult(AsHandle(device), &transfer_, &n, TRUE); // the buffer is free after this
    }
    void CloseDevice(WinHandle device) override { ::CloseHandle(AsHandle(device)); }

private:
    void Fresh() {
        transfer_ = OVERLAPPED{};
        transfer_.hEvent = event_;
    }
    static std::uint32_t Started() {
        const DWORD error = ::GetLastError();
        return error == ERROR_IO_PENDING ? 0 : error;
    }

    HANDLE event_;
    GUID hidGuid_{};
    HDEVINFO list_ = INVALID_HANDLE_VALUE;
    SP_DEVICE_INTERFACE_DATA interface_{};
    OVERLAPPED transfer_{};
};

} // namespace

std::unique_ptr<HidBackend> MakeHidapiBackend() { return MakeWinHidBackend(std::make_unique<Win32HidCalls>()); }

} // namespace kv
