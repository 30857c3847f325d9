#include "sim/SimUsbDriver.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>

#include "platform/ByteOrder.h"
#include "platform/SystemError.h"
#include "usb/DriverProtocol.h"

namespace sim {

namespace {

constexpr uint32_t kTracedBytes = 4096;

bool Fail(uint32_t error) {
    platform::SetLastSystemError(error);
    return false;
}

// Where a synchronous caller waits for a transfer the device completes.
struct Latch {
    std::mutex mutex;
    std::condition_variable done;
    bool complete = false;
    uint32_t count = 0;
    uint32_t error = 0;
};

}  // namespace

struct SimUsbDriver::Call {
    uint32_t code;
    const uint8_t* in;
    uint32_t inSize;
    uint8_t* out;
    uint32_t outSize;
    uint32_t* bytesReturned;
    platform::UsbOverlapped* overlapped;
    uint32_t answerLimit;
};

const platform::Guid& CameraInterfaceClass() {
    static const platform::Guid guid = [] {
        platform::Guid parsed{};
        platform::ParseGuid("{C3085563-87DB-4e0a-ABDC-5747B2EB9BF3}", parsed);
        return parsed;
    }();
    return guid;
}

std::shared_ptr<SimUsbDriver> SimUsbDriver::Instance() {
    static std::shared_ptr<SimUsbDriver> driver = std::make_shared<SimUsbDriver>();
    return driver;
}

std::string SimUsbDriver::Publish(std::shared_ptr<SimUsbDevice> device,
                                  const platform::Guid& interfaceClass) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string path = "\\\\?\\vela2sim#dev" + std::to_string(nextDevice_++) + "#" +
                       platform::GuidText(interfaceClass);
    published_.push_back({path, interfaceClass, std::move(device)});
    return path;
}

void SimUsbDriver::PublishUnreadable(const platform::Guid& interfaceClass) {
    std::lock_guard<std::mutex> lock(mutex_);
    published_.push_back({"", interfaceClass, nullptr});
}

void SimUsbDriver::Unplug(const std::shared_ptr<SimUsbDevice>& device) {
    std::vector<platform::UsbRemovalNotice> notices;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto published = std::find_if(published_.begin(), published_.end(),
                                      [&](const Published& p) { return p.device == device; });
        if (published == published_.end()) return;
        const platform::Guid interfaceClass = published->interfaceClass;
        published_.erase(published);
        std::vector<platform::UsbHandle> handles;
        for (const auto& [handle, open] : handles_)
            if (open == device) handles.push_back(handle);
        notices = notifications_.RemovalNotices(handles, &interfaceClass);
    }
    device->Unplug();
    for (const auto& notice : notices) platform::DeliverUsbRemoval(notice);
}

void SimUsbDriver::Reset() {
    std::vector<Published> devices;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        devices.swap(published_);
        handles_.clear();
        notifications_.Clear();
    }
    for (Published& p : devices)
        if (p.device) p.device->Unplug();
}

size_t SimUsbDriver::OpenHandles() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return handles_.size();
}

std::unique_ptr<platform::DeviceInterfaceList> SimUsbDriver::OpenInterfaceList(
    const platform::Guid& interfaceClass) {
    std::vector<std::string> paths;
    std::lock_guard<std::mutex> lock(mutex_);
    for (const Published& p : published_)
        if (p.interfaceClass == interfaceClass) paths.push_back(p.path);
    return platform::MakeDeviceInterfaceList(std::move(paths));
}

platform::UsbHandle SimUsbDriver::Open(const std::string& devicePath) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const Published& p : published_) {
        if (!p.device || p.path != devicePath) continue;
        const platform::UsbHandle handle = nextHandle_;
        nextHandle_ += 4;
        handles_[handle] = p.device;
        return handle;
    }
    Fail(platform::kErrorFileNotFound);
    return platform::kInvalidUsbHandle;
}

bool SimUsbDriver::Close(platform::UsbHandle handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    return handles_.erase(handle) == 1 || Fail(platform::kErrorInvalidHandle);
}

std::shared_ptr<SimUsbDevice> SimUsbDriver::DeviceOf(platform::UsbHandle handle) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = handles_.find(handle);
    return it == handles_.end() ? nullptr : it->second;
}

bool SimUsbDriver::Request(platform::UsbHandle handle, uint32_t code, const void* in,
                           uint32_t inSize, void* out, uint32_t outSize, uint32_t* bytesReturned,
                           platform::UsbOverlapped* overlapped) {
    if (bytesReturned) *bytesReturned = 0;
    std::shared_ptr<SimUsbDevice> device = DeviceOf(handle);
    if (!device) return Fail(platform::kErrorInvalidHandle);
    if ((in == nullptr && inSize > 0) || (out == nullptr && outSize > 0))
        return Fail(platform::kErrorInvalidParameter);

    RequestTrace trace;
    trace.code = code;
    trace.inputSize = inSize;
    if (in != nullptr) {
        const auto* bytes = static_cast<const uint8_t*>(in);
        trace.input.assign(bytes, bytes + std::min(inSize, kTracedBytes));
    }
    trace.output = out;
    trace.outputSize = outSize;
    trace.overlapped = overlapped != nullptr;
    device->Trace(std::move(trace));

    if (uint32_t error = device->RequestError(code)) return Fail(error);
    const Call request{code,       static_cast<const uint8_t*>(in),
                       inSize,     static_cast<uint8_t*>(out),
                       outSize,    bytesReturned,
                       overlapped, device->AnswerLimit(code)};
    switch (code) {
        case usb::kIoctlControlTransfer:
        case usb::kIoctlBufferedTransfer:
        case usb::kIoctlDirectTransfer:
            return SubmitTransfer(request, *device);
        default:
            return AnswerInformation(request, *device);
    }
}

bool SimUsbDriver::Answer(const Call& request, uint32_t count) const {
    count = std::min(count, request.answerLimit);
    if (request.bytesReturned) *request.bytesReturned = count;
    // An overlapped request the driver finishes at once still completes it.
    if (request.overlapped) request.overlapped->Complete(count, 0);
    platform::SetLastSystemError(0);
    return true;
}

bool SimUsbDriver::AnswerInformation(const Call& request, SimUsbDevice& device) const {
    switch (request.code) {
        case usb::kIoctlDriverVersion:
        case usb::kIoctlSecondVersion:
            if (request.outSize < 4) return Fail(platform::kErrorInvalidParameter);
            platform::StoreLe32(request.out, request.code == usb::kIoctlDriverVersion
                                                 ? device.DriverVersion()
                                                 : device.SecondVersion());
            return Answer(request, 4);
        case usb::kIoctlCurrentAltSetting: {
            uint8_t setting = 0;
            if (request.outSize < 1) return Fail(platform::kErrorInvalidParameter);
            if (!device.AlternateSetting(setting)) return Fail(platform::kErrorGenFailure);
            request.out[0] = setting;
            return Answer(request, 1);
        }
        case usb::kIoctlAddress:
            if (request.outSize < 1) return Fail(platform::kErrorInvalidParameter);
            request.out[0] = device.Address();
            return Answer(request, 1);
        case usb::kIoctlNameTextA:
        case usb::kIoctlNameTextB: {
            if (request.outSize < 1) return Fail(platform::kErrorInvalidParameter);
            const std::string text = device.NameText(request.code == usb::kIoctlNameTextB);
            const uint32_t length =
                std::min<uint32_t>(static_cast<uint32_t>(text.size()), request.outSize - 1);
            std::memcpy(request.out, text.data(), length);
            request.out[length] = '\0';
            return Answer(request, length + 1);
        }
        case usb::kIoctlReleaseDevice:
            return Answer(request, 0);
        case usb::kIoctlGetBufferSize:
        case usb::kIoctlSetBufferSize: {
            if (request.inSize < usb::kBufferSizeRecordSize)
                return Fail(platform::kErrorInvalidParameter);
            auto record = usb::LoadRecord<usb::SUsbBufferSizeRecord>(request.in);
            if (request.code == usb::kIoctlSetBufferSize)
                device.SetBufferSize(record.EndpointAddress, record.Size);
            if (request.outSize < usb::kBufferSizeRecordSize) return Answer(request, 0);
            record.Size = device.GetBufferSize(record.EndpointAddress);
            usb::StoreRecord(request.out, record);
            return Answer(request, usb::kBufferSizeRecordSize);
        }
        case usb::kIoctlAbortEndpoint:
            if (request.inSize < 1) return Fail(platform::kErrorInvalidParameter);
            device.Abort(request.in[0]);
            return Answer(request, 0);
        default:
            return Fail(platform::kErrorInvalidFunction);
    }
}

bool SimUsbDriver::SubmitTransfer(const Call& request, SimUsbDevice& device) const {
    usb::TransferRequest transfer;
    if (!usb::DecodeTransferRequest(request.code, request.in, request.inSize, request.out,
                                    request.outSize, transfer))
        return Fail(platform::kErrorInvalidParameter);
    TransferJob job;
    job.endpoint = transfer.endpoint;
    job.in = transfer.in;
    job.setup = SetupPacket{transfer.requestType, transfer.request, transfer.value, transfer.index,
                            transfer.length};
    job.data = transfer.data;
    job.length = transfer.dataLength;

    const uint32_t limit = request.answerLimit;
    auto finish = [transfer, limit](const TransferOutcome& outcome) {
        return std::min(usb::CompleteTransferRecord(transfer, outcome.bytes, outcome.usbStatus,
                                                    outcome.driverStatus),
                        limit);
    };
    if (request.overlapped != nullptr) {
        platform::UsbOverlapped* overlapped = request.overlapped;
        job.complete = [finish, overlapped](const TransferOutcome& outcome) {
            overlapped->Complete(finish(outcome), outcome.error);
        };
        device.Submit(std::move(job));
        return Fail(platform::kErrorIoPending);
    }
    auto latch = std::make_shared<Latch>();
    job.complete = [finish, latch](const TransferOutcome& outcome) {
        const uint32_t count = finish(outcome);
        std::lock_guard<std::mutex> lock(latch->mutex);
        latch->count = count;
        latch->error = outcome.error;
        latch->complete = true;
        latch->done.notify_all();
    };
    device.Submit(std::move(job));
    std::unique_lock<std::mutex> lock(latch->mutex);
    latch->done.wait(lock, [&] { return latch->complete; });
    if (request.bytesReturned) *request.bytesReturned = latch->count;
    if (latch->error != 0) return Fail(latch->error);
    platform::SetLastSystemError(0);
    return true;
}

bool SimUsbDriver::OverlappedResult(platform::UsbHandle handle, platform::UsbOverlapped& overlapped,
                                    uint32_t& bytes) {
    bytes = 0;
    if (!DeviceOf(handle)) return Fail(platform::kErrorInvalidHandle);
    uint32_t error = 0;
    if (!overlapped.Completed(bytes, error)) return Fail(platform::kErrorIoIncomplete);
    return error == 0 || Fail(error);
}

platform::NotificationHandle SimUsbDriver::RegisterInterfaceNotification(
    platform::WindowHandle window, const platform::Guid& interfaceClass) {
    return notifications_.AddForClass(window, interfaceClass);
}

platform::NotificationHandle SimUsbDriver::RegisterHandleNotification(platform::WindowHandle window,
                                                                      platform::UsbHandle handle) {
    if (!DeviceOf(handle)) {
        Fail(platform::kErrorInvalidHandle);
        return nullptr;
    }
    return notifications_.AddForHandle(window, handle);
}

bool SimUsbDriver::UnregisterNotification(platform::NotificationHandle notification) {
    return notifications_.Remove(notification);
}

void RegisterSimUsbBackend() {
    platform::RegisterUsbDriverBackend("sim", SimUsbDriver::Instance());
}

SimUsbSession::SimUsbSession() : driver_(SimUsbDriver::Instance()) {
    RegisterSimUsbBackend();
    platform::SelectUsbDriverBackend("sim");
    driver_->Reset();
}

SimUsbSession::~SimUsbSession() {
    driver_->Reset();
    platform::SelectUsbDriverBackend("");
}

}  // namespace sim
