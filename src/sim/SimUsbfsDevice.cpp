#include "sim/SimUsbfsDevice.h"

#include <linux/ioctl.h>
#include <linux/usbdevice_fs.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "platform/ByteOrder.h"
#include "platform/SystemError.h"

namespace sim {

namespace {

// What the emulated kernel offers: one URB of any length per transfer, so a
// frame goes in one piece straight into the caller's buffer.
constexpr uint32_t kCapabilities = USBDEVFS_CAP_BULK_SCATTER_GATHER |
                                   USBDEVFS_CAP_NO_PACKET_SIZE_LIM |
                                   USBDEVFS_CAP_REAP_AFTER_DISCONNECT | USBDEVFS_CAP_ZERO_PACKET;

std::string Hex(const std::vector<uint8_t>& bytes) {
    std::string text;
    char digits[3];
    for (uint8_t byte : bytes) {
        std::snprintf(digits, sizeof digits, "%02x", byte);
        text += digits;
    }
    return text;
}

// How the kernel reports the outcome in the URB's status.
int UrbStatus(const TransferOutcome& outcome) {
    if (outcome.error == platform::kErrorOperationAborted) return -ENOENT;
    if (outcome.error == platform::kErrorDeviceNotConnected) return -ENODEV;
    if (outcome.usbStatus == usb::kUsbStatusStall) return -EPIPE;
    if (outcome.usbStatus != 0 || outcome.driverStatus != 0) return -EPROTO;
    return 0;
}

}  // namespace

struct SimUsbfsDevice::Urb {
    explicit Urb(UMockdevIoctlData* resolved) : data(resolved) {}
    ~Urb() { umockdev_ioctl_data_unref(data); }
    Urb(const Urb&) = delete;
    Urb& operator=(const Urb&) = delete;

    UMockdevIoctlData* data;  // the caller's struct usbdevfs_urb, one reference held
    uint8_t endpoint = 0;
    usbdevfs_urb& fields() { return *reinterpret_cast<usbdevfs_urb*>(data->data); }
};

SimUsbfsDevice::SimUsbfsDevice(UMockdevTestbed* testbed, std::shared_ptr<SimUsbDevice> device,
                               uint8_t number, uint8_t port)
    : testbed_(testbed), device_(std::move(device)) {
    char devnum[4];
    std::snprintf(devnum, sizeof devnum, "%03u", number);
    node_ = std::string("/dev/bus/usb/001/") + devnum;
    handler_ = umockdev_ioctl_base_new();
    g_signal_connect(handler_, "handle-ioctl", G_CALLBACK(&SimUsbfsDevice::OnIoctl), this);
    // The handler first, so the device answers from the moment it appears.
    umockdev_testbed_attach_ioctl(testbed_, node_.c_str(), handler_, nullptr);

    const UsbDescriptorSet descriptors = device_->Descriptors();
    std::vector<uint8_t> all = descriptors.device;
    for (const auto& configuration : descriptors.configurations)
        all.insert(all.end(), configuration.begin(), configuration.end());
    const std::string name = "1-" + std::to_string(port);
    const std::string entry =
        "P: /devices/pci0000:00/usb1/" + name + "\nN: bus/usb/001/" + devnum +
        "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: DRIVER=usb\nE: BUSNUM=001\nE: DEVNUM=" +
        devnum + "\nE: DEVNAME=" + node_ + "\nA: busnum=1\\n\nA: devnum=" + std::to_string(number) +
        "\\n\nA: bConfigurationValue=1\\n\nA: speed=480\\n\n" + "H: descriptors=" + Hex(all) + "\n";
    umockdev_testbed_add_from_string(testbed_, entry.c_str(), nullptr);
    sysfsPath_ = "/sys/devices/pci0000:00/usb1/" + name;
}

SimUsbfsDevice::~SimUsbfsDevice() {
    Unplug();
    umockdev_testbed_detach_ioctl(testbed_, node_.c_str(), nullptr);
    g_object_unref(handler_);
}

void SimUsbfsDevice::Unplug() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (unplugged_) return;
        unplugged_ = true;
    }
    device_->Unplug();  // pending transfers end with ENODEV, reapable as the kernel's
    umockdev_testbed_uevent(testbed_, sysfsPath_.c_str(), "remove");
    umockdev_testbed_remove_device(testbed_, sysfsPath_.c_str());
}

std::vector<const void*> SimUsbfsDevice::SubmittedBuffers(uint8_t endpoint) const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<const void*> buffers;
    for (const auto& [address, buffer] : buffers_)
        if (address == endpoint) buffers.push_back(buffer);
    return buffers;
}

uint64_t SimUsbfsDevice::Ioctls() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return ioctls_;
}

gboolean SimUsbfsDevice::OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
    return static_cast<SimUsbfsDevice*>(self)->Answer(client) ? TRUE : FALSE;
}

bool SimUsbfsDevice::Answer(UMockdevIoctlClient* client) {
    const unsigned long request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData* argument = umockdev_ioctl_client_get_arg(client);
    bool unplugged = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ++ioctls_;
        unplugged = unplugged_;
    }
    switch (request) {
        case USBDEVFS_SUBMITURB:
            return Submit(client, argument);
        case USBDEVFS_REAPURB:
        case USBDEVFS_REAPURBNDELAY:
            return Reap(client, argument);
        case USBDEVFS_DISCARDURB:
            return Discard(client, argument);
        default:
            break;
    }
    if (unplugged) {
        umockdev_ioctl_client_complete(client, -1, ENODEV);
        return true;
    }
    switch (request) {
        case USBDEVFS_GET_CAPABILITIES: {
            UMockdevIoctlData* value = umockdev_ioctl_data_resolve(argument, 0, 4, nullptr);
            if (value == nullptr) return false;
            platform::StoreLe32(value->data, kCapabilities);
            umockdev_ioctl_data_unref(value);
            umockdev_ioctl_client_complete(client, 0, 0);
            return true;
        }
        case USBDEVFS_GETDRIVER:
            umockdev_ioctl_client_complete(client, -1, ENODATA);  // no kernel driver bound
            return true;
        case USBDEVFS_CLAIMINTERFACE:
        case USBDEVFS_RELEASEINTERFACE:
        case USBDEVFS_DISCONNECT_CLAIM:
        case USBDEVFS_IOCTL:
        case USBDEVFS_SETINTERFACE:
        case USBDEVFS_SETCONFIGURATION:
        case USBDEVFS_CLEAR_HALT:
        case USBDEVFS_RESETEP:
        case USBDEVFS_RESET:
            umockdev_ioctl_client_complete(client, 0, 0);
            return true;
        default:
            return false;  // the caller sees the kernel's "not supported"
    }
}

bool SimUsbfsDevice::Submit(UMockdevIoctlClient* client, UMockdevIoctlData* argument) {
    UMockdevIoctlData* data =
        umockdev_ioctl_data_resolve(argument, 0, sizeof(usbdevfs_urb), nullptr);
    if (data == nullptr) return false;
    auto urb = std::make_unique<Urb>(data);
    usbdevfs_urb& fields = urb->fields();
    // The data stay where the caller has them: this process is the caller.
    auto* buffer = static_cast<uint8_t*>(fields.buffer);
    const uint32_t length = fields.buffer_length > 0 ? uint32_t(fields.buffer_length) : 0;
    TransferJob job;
    if (fields.type == USBDEVFS_URB_TYPE_CONTROL) {
        if (buffer == nullptr || length < 8) {
            umockdev_ioctl_client_complete(client, -1, EINVAL);
            return true;
        }
        job.setup = SetupPacket{buffer[0], buffer[1], platform::LoadLe16(buffer + 2),
                                platform::LoadLe16(buffer + 4), platform::LoadLe16(buffer + 6)};
        job.in = job.setup.DeviceToHost();
        job.data = buffer + 8;
        job.length = std::min<uint32_t>(job.setup.Length, length - 8);
    } else if (fields.type == USBDEVFS_URB_TYPE_BULK ||
               fields.type == USBDEVFS_URB_TYPE_INTERRUPT) {
        job.endpoint = fields.endpoint;
        job.in = (fields.endpoint & 0x80) != 0;
        job.data = buffer;
        job.length = length;
    } else {
        umockdev_ioctl_client_complete(client, -1, EINVAL);
        return true;
    }
    urb->endpoint = job.endpoint;
    Urb* submitted = urb.get();
    job.complete = [this, submitted](const TransferOutcome& outcome) {
        Reaped(submitted, outcome);
    };
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (unplugged_) {
            umockdev_ioctl_client_complete(client, -1, ENODEV);
            return true;
        }
        buffers_.emplace_back(job.endpoint, buffer);
        inFlight_.push_back(std::move(urb));
    }
    umockdev_ioctl_client_complete(client, 0, 0);
    device_->Submit(std::move(job));
    return true;
}

void SimUsbfsDevice::Reaped(Urb* urb, const TransferOutcome& outcome) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = std::find_if(inFlight_.begin(), inFlight_.end(),
                           [urb](const auto& flying) { return flying.get() == urb; });
    if (it == inFlight_.end()) return;
    usbdevfs_urb& fields = urb->fields();
    fields.actual_length = static_cast<int>(outcome.bytes);
    fields.status = UrbStatus(outcome);
    reapable_.push_back(std::move(*it));
    inFlight_.erase(it);
}

bool SimUsbfsDevice::Reap(UMockdevIoctlClient* client, UMockdevIoctlData* argument) {
    std::unique_ptr<Urb> urb;
    bool unplugged = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        unplugged = unplugged_;
        if (!reapable_.empty()) {
            urb = std::move(reapable_.front());
            reapable_.pop_front();
        }
    }
    if (!urb) {
        umockdev_ioctl_client_complete(client, -1, unplugged ? ENODEV : EAGAIN);
        return true;
    }
    UMockdevIoctlData* slot = umockdev_ioctl_data_resolve(argument, 0, sizeof(void*), nullptr);
    if (slot == nullptr) return false;
    umockdev_ioctl_data_set_ptr(slot, 0, urb->data);
    umockdev_ioctl_data_unref(slot);
    umockdev_ioctl_client_complete(client, 0, 0);
    return true;
}

bool SimUsbfsDevice::Discard(UMockdevIoctlClient* client, UMockdevIoctlData* argument) {
    const auto address = reinterpret_cast<gulong>(*reinterpret_cast<void**>(argument->data));
    uint8_t endpoint = 0;
    bool found = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const auto& urb : inFlight_)
            if (urb->data->client_addr == address) {
                endpoint = urb->endpoint;
                found = true;
            }
    }
    if (!found) {
        umockdev_ioctl_client_complete(client, -1, EINVAL);
        return true;
    }
    // The device cancels the endpoint's transfers; the URB is then reaped
    // with -ENOENT, as the kernel does with a discarded one.
    device_->Abort(endpoint);
    umockdev_ioctl_client_complete(client, 0, 0);
    return true;
}

}  // namespace sim
