#include "usb/CCyUSBDevice.h"

#include <algorithm>
#include <cstring>

#include "platform/ByteOrder.h"
#include "platform/SystemError.h"
#include "usb/DriverProtocol.h"

namespace usb {

namespace {
constexpr uint8_t kStandardDeviceToHost = 0x80;
constexpr uint32_t kDescriptorTimeoutSeconds = 5;
constexpr uint16_t kPreferredLanguage = 0x0409;
constexpr uint8_t kAnyAlternateSetting = 0xFF;
// The count is 8-bit; a list whose members keep failing with errors other
// than the end marker is not walked past this many.
constexpr uint32_t kMaxInterfaceMembers = 1024;

}  // namespace

CCyUSBDevice::CCyUSBDevice(platform::WindowHandle window, const platform::Guid& interfaceClass,
                           bool openNow)
    : NotificationWindow(window), InterfaceClass(interfaceClass) {
    if (window != nullptr)
        InterfaceNotification = platform::RegisterUsbInterfaceNotification(window, interfaceClass);
    if (openNow) Open(0);
}

CCyUSBDevice::~CCyUSBDevice() {
    try {
        Close();
    } catch (const UsbDeviceError&) {
        // Everything was released; only the report is lost.
    }
    if (InterfaceNotification != nullptr)
        platform::UnregisterUsbNotification(InterfaceNotification);
}

uint8_t CCyUSBDevice::CountDevices() {
    uint32_t count = 0;
    if (auto list = platform::OpenDeviceInterfaceList(InterfaceClass)) {
        for (uint32_t index = 0; index < kMaxInterfaceMembers; ++index) {
            if (list->Enumerate(index)) {
                ++count;
            } else if (platform::LastSystemError() == platform::kErrorNoMoreItems) {
                break;
            }
        }
    }
    Devices = static_cast<uint8_t>(count);
    return Devices;
}

bool CCyUSBDevice::OpenHandle(uint8_t deviceNumber) {
    const uint8_t count = CountDevices();
    if (count == 0 || deviceNumber > count - 1) return false;
    std::string path;
    {
        auto list = platform::OpenDeviceInterfaceList(InterfaceClass);
        if (!list || !list->Enumerate(deviceNumber) || !list->DevicePath(deviceNumber, path))
            return false;
    }
    DevicePath = path.substr(0, 255);
    DeviceHandle = platform::OpenUsbDevice(path);
    return DeviceHandle != platform::kInvalidUsbHandle;
}

bool CCyUSBDevice::Open(uint8_t deviceNumber) {
    if (IsOpen()) Close();
    if (!OpenHandle(deviceNumber)) {
        DeviceHandle = platform::kInvalidUsbHandle;
        DevNum = 0;
        return false;
    }
    DevNum = deviceNumber;
    ReadDeviceDescriptor();
    ReadStringLanguage();
    ReadString(DeviceDescriptor[14], Manufacturer);
    ReadString(DeviceDescriptor[15], Product);
    ReadString(DeviceDescriptor[16], SerialNumber);
    ReadDriverInformation();
    for (uint8_t i = 0; i < Configurations && i < kMaxConfigurations; ++i) ReadConfiguration(i);
    CreateControlEndpoint();
    if (!Configs[0] || !Configs[0]->Interface(0)) return false;
    SelectConfiguration();
    if (InterfaceNotification != nullptr)
        HandleNotification =
            platform::RegisterUsbHandleNotification(NotificationWindow, DeviceHandle);
    return true;
}

bool CCyUSBDevice::GetDescriptor(uint16_t value, uint16_t index, uint16_t length,
                                 std::vector<uint8_t>& data, uint32_t& received) {
    TransferRecordBuffer record(kTransferRecordSize + length);
    SUsbTransferRecord header{};
    header.RequestType = kStandardDeviceToHost;
    header.Request = kGetDescriptor;
    header.Value = value;
    header.Index = index;
    header.Length = length;
    header.TimeoutSeconds = kDescriptorTimeoutSeconds;
    header.DataOffset = kTransferRecordSize;
    header.DataLength = length;
    record.SetHeader(header);
    const bool ok = DriverRequest(kIoctlControlTransfer, record.data(), record.size());
    const SUsbTransferRecord answer = record.Header();
    UsbStatus = answer.UsbStatus;
    DriverStatus = answer.DriverStatus;
    received = BytesReturned > kTransferRecordSize
                   ? std::min<uint32_t>(BytesReturned - kTransferRecordSize, length)
                   : 0;
    data.assign(record.data() + kTransferRecordSize, record.data() + record.size());
    return ok;
}

void CCyUSBDevice::ReadDeviceDescriptor() {
    std::vector<uint8_t> data;
    uint32_t received = 0;
    if (!GetDescriptor(kDescriptorDevice << 8, 0, kDeviceDescriptorSize, data, received)) return;
    std::copy(data.begin(), data.end(), DeviceDescriptor.begin());
    const uint8_t* d = DeviceDescriptor.data();
    BcdUSB = platform::LoadLe16(d + 2);
    DevClass = d[4];
    DevSubClass = d[5];
    DevProtocol = d[6];
    MaxPacketSize = d[7];
    VendorID = platform::LoadLe16(d + 8);
    ProductID = platform::LoadLe16(d + 10);
    BcdDevice = platform::LoadLe16(d + 12);
    Configurations = d[17];
}

void CCyUSBDevice::ReadStringLanguage() {
    std::vector<uint8_t> data;
    uint32_t received = 0;
    if (!GetDescriptor(kDescriptorString << 8, 0, 2, data, received)) return;
    const uint8_t length = data[0];
    if (!GetDescriptor(kDescriptorString << 8, 0, length, data, received)) return;
    const uint32_t languages = length >= 2 ? (length - 2u) / 2u : 0;
    StrLangID = languages > 0 ? platform::LoadLe16(&data[2]) : 0;
    for (uint32_t i = 0; i < languages; ++i)
        if (platform::LoadLe16(&data[2 + 2 * i]) == kPreferredLanguage)
            StrLangID = kPreferredLanguage;
}

void CCyUSBDevice::ReadString(uint8_t index, char16_t* field) {
    const uint16_t value = static_cast<uint16_t>((kDescriptorString << 8) + index);
    std::vector<uint8_t> data;
    uint32_t received = 0;
    if (!GetDescriptor(value, StrLangID, 2, data, received)) return;
    const uint8_t length = data[0];
    if (!GetDescriptor(value, StrLangID, length, data, received)) return;
    std::fill(field, field + kStringChars, u'\0');
    // At most 255 characters, so the text always ends in a zero character.
    const uint32_t bytes =
        std::min<uint32_t>(length >= 2 ? length - 2u : 0, (kStringChars - 1) * 2);
    std::memcpy(field, data.data() + 2, bytes);
}

template <typename T>
void CCyUSBDevice::ReadScalar(uint32_t code, T& field) {
    T value{};
    field = DriverRequest(code, &value, sizeof value) && BytesReturned > 0 ? value : T{};
}

void CCyUSBDevice::ReadDriverInformation() {
    ReadScalar(kIoctlAddress, USBAddress);
    if (!DriverRequest(kIoctlNameTextA, NameTextA, kNameTextSize))
        std::fill_n(NameTextA, kNameTextSize, '\0');
    if (!DriverRequest(kIoctlNameTextB, NameTextB, kNameTextSize))
        std::fill_n(NameTextB, kNameTextSize, '\0');
    ReadScalar(kIoctlDriverVersion, DriverVersion);
    ReadScalar(kIoctlSecondVersion, SecondVersion);
}

void CCyUSBDevice::ReadConfiguration(uint8_t index) {
    const uint16_t value = static_cast<uint16_t>((kDescriptorConfiguration << 8) + index);
    std::vector<uint8_t> data;
    uint32_t received = 0;
    if (!GetDescriptor(value, 0, kConfigurationDescriptorSize, data, received)) return;
    const uint16_t totalLength = platform::LoadLe16(&data[2]);
    if (!GetDescriptor(value, 0, totalLength, data, received)) return;
    // Only what the device sent is kept, so a set shorter than it claims is
    // walked as far as it goes and no further.
    if (received < kConfigurationDescriptorSize) return;
    RawConfigSets[index].assign(data.begin(), data.begin() + received);
    Configs[index] =
        std::make_unique<CCyUSBConfig>(DeviceHandle, RawConfigSets[index].data(), received);
}

void CCyUSBDevice::CreateControlEndpoint() {
    control_ = std::make_unique<CCyUSBControlEndpoint>(DeviceHandle);
    CCyUSBControlEndpoint* control = control_.get();
    control->DscLen = kEndpointDescriptorSize;
    control->DscType = kDescriptorEndpoint;
    control->Address = 0;
    control->Attributes = 0;
    control->MaxPktSize = MaxPacketSize;
    control->Interval = 0;
    ControlEndPt = control;
}

void CCyUSBDevice::SelectConfiguration() {
    CfgNum = 0;
    const CCyUSBConfig& config = *Configs[0];
    ConfigValue = config.bConfigurationValue;
    ConfigAttrib = config.bmAttributes;
    MaxPower = config.MaxPower;
    Interfaces = config.bNumInterfaces;
    AltInterfaces = config.AltInterfaces;
    IntfcNum = config.Interface(0)->bInterfaceNumber;
    uint8_t alternateSetting = kAnyAlternateSetting;
    if (!DriverRequest(kIoctlCurrentAltSetting, &alternateSetting, 1))
        alternateSetting = kAnyAlternateSetting;
    SelectAlternateSetting(alternateSetting);
}

void CCyUSBDevice::SelectAlternateSetting(uint8_t alternateSetting) {
    const CCyUSBConfig& config = *Configs[CfgNum];
    for (uint8_t i = 0; i < config.AltInterfaces; ++i) {
        CCyUSBInterface* candidate = config.Interface(i);
        if (candidate->bAlternateSetting != alternateSetting) continue;
        AltIntfcIndex = i;
        IntfcClass = candidate->bInterfaceClass;
        IntfcSubClass = candidate->bInterfaceSubClass;
        IntfcProtocol = candidate->bInterfaceProtocol;
        if (Configurations == 0 || Interfaces == 0) return;
        EndPoints = candidate->EndPoints.data();
        EndPoints[0] = ControlEndPt;
        AssignTypedEndpoints();
        return;
    }
}

void CCyUSBDevice::AssignTypedEndpoints() {
    IsocInEndPt = IsocOutEndPt = BulkInEndPt = BulkOutEndPt = nullptr;
    InterruptInEndPt = InterruptOutEndPt = nullptr;
    const uint8_t count = EndpointCount();
    for (uint8_t i = 1; i < count; ++i) {
        CCyUSBEndpoint* endpoint = EndPoints[i];
        if (endpoint == nullptr) continue;
        if (DriverVersion < kFirstDirectDriverVersion) endpoint->TransferMode = kBufferedTransfer;
        const bool in = (endpoint->Address & 0x80) != 0;
        CCyUSBEndpoint** slot = nullptr;
        switch (endpoint->Attributes) {
            case 1:
                slot = in ? &IsocInEndPt : &IsocOutEndPt;
                break;
            case 2:
                slot = in ? &BulkInEndPt : &BulkOutEndPt;
                break;
            case 3:
                slot = in ? &InterruptInEndPt : &InterruptOutEndPt;
                break;
            default:
                break;
        }
        if (slot != nullptr && *slot == nullptr) *slot = endpoint;
    }
}

uint8_t CCyUSBDevice::EndpointCount() const {
    if (!IsOpen() || !Configs[CfgNum]) return 0;
    const CCyUSBInterface* selected = Configs[CfgNum]->Interface(AltIntfcIndex);
    return selected ? static_cast<uint8_t>(selected->bNumEndpoints + 1) : 0;
}

void CCyUSBDevice::ReleaseDevice() {
    uint32_t returned = 0;
    platform::UsbDeviceRequest(DeviceHandle, kIoctlReleaseDevice, nullptr, 0, nullptr, 0, &returned,
                               nullptr);
}

bool CCyUSBDevice::DriverRequest(uint32_t code, void* buffer, uint32_t length) {
    if (!IsOpen()) return false;
    BytesReturned = 0;
    return platform::UsbDeviceRequest(DeviceHandle, code, buffer, length, buffer, length,
                                      &BytesReturned, nullptr);
}

void CCyUSBDevice::FreeDescriptorTree() {
    DeviceDescriptor.fill(0);
    for (uint32_t i = 0; i < kMaxConfigurations; ++i) {
        Configs[i].reset();
        RawConfigSets[i].clear();
    }
    control_.reset();
    ControlEndPt = nullptr;
    EndPoints = nullptr;
    IsocInEndPt = IsocOutEndPt = BulkInEndPt = BulkOutEndPt = nullptr;
    InterruptInEndPt = InterruptOutEndPt = nullptr;
    Devices = Configurations = Interfaces = AltInterfaces = 0;
}

void CCyUSBDevice::Close() {
    const char* failure = nullptr;
    if (IsOpen()) {
        if (HandleNotification != nullptr &&
            !platform::UnregisterUsbNotification(HandleNotification))
            failure = "Failed to close the handle notification handle.";
        if (!platform::CloseUsbDevice(DeviceHandle) && failure == nullptr)
            failure = "Failed to close handle to driver.";
        DeviceHandle = platform::kInvalidUsbHandle;
        HandleNotification = nullptr;
    }
    FreeDescriptorTree();
    if (failure != nullptr) throw UsbDeviceError(failure);
}

}  // namespace usb
