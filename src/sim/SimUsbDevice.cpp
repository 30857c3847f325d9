#include "sim/SimUsbDevice.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "platform/SystemError.h"
#include "usb/UsbDescriptors.h"

namespace sim {

namespace {
constexpr size_t kTraceDepth = 1024;

bool IsStandard(const SetupPacket& setup) { return ((setup.RequestType >> 5) & 3) == 0; }
}  // namespace

SimUsbDevice::SimUsbDevice(UsbDescriptorSet descriptors)
    : descriptors_(std::move(descriptors)), thread_(platform::Thread::Start([this] {
          platform::NameCurrentThread(kThreadName);
          Run();
          return 0u;
      })) {
    if (!thread_) throw std::runtime_error("the system refused the simulated device's thread");
}

SimUsbDevice::~SimUsbDevice() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_->Join(platform::kInfinite);
    CancelAll(platform::kErrorOperationAborted);
}

void SimUsbDevice::SetDescriptors(UsbDescriptorSet descriptors) {
    std::lock_guard<std::mutex> lock(mutex_);
    descriptors_ = std::move(descriptors);
}

void SimUsbDevice::SetDriverVersion(uint32_t version) {
    std::lock_guard<std::mutex> lock(mutex_);
    driverVersion_ = version;
}

void SimUsbDevice::SetSecondVersion(uint32_t version) {
    std::lock_guard<std::mutex> lock(mutex_);
    secondVersion_ = version;
}

void SimUsbDevice::SetAddress(uint8_t address) {
    std::lock_guard<std::mutex> lock(mutex_);
    address_ = address;
}

void SimUsbDevice::SetNameTexts(const std::string& a, const std::string& b) {
    std::lock_guard<std::mutex> lock(mutex_);
    nameA_ = a;
    nameB_ = b;
}

void SimUsbDevice::SetAlternateSetting(int setting) {
    std::lock_guard<std::mutex> lock(mutex_);
    alternateSetting_ = setting;
}

void SimUsbDevice::SetVendorRequestHandler(std::shared_ptr<VendorRequestHandler> handler) {
    std::lock_guard<std::mutex> lock(mutex_);
    handler_ = std::move(handler);
}

void SimUsbDevice::SetFrameSource(std::shared_ptr<FrameSource> source) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        source_ = std::move(source);
        kicked_ = true;
    }
    wake_.notify_all();
}

void SimUsbDevice::SetControlLatency(std::chrono::microseconds latency) {
    std::lock_guard<std::mutex> lock(mutex_);
    controlLatency_ = std::max(latency, std::chrono::microseconds::zero());
}

void SimUsbDevice::StallNextTransfer() {
    std::lock_guard<std::mutex> lock(mutex_);
    nextFault_.stall = true;
}

void SimUsbDevice::ShortenNextTransfer(uint32_t bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    nextFault_.shorten = true;
    nextFault_.shortBytes = bytes;
}

void SimUsbDevice::FailNextTransfer(uint32_t usbStatus, uint32_t driverStatus) {
    std::lock_guard<std::mutex> lock(mutex_);
    nextFault_.fail = true;
    nextFault_.usbStatus = usbStatus;
    nextFault_.driverStatus = driverStatus;
}

void SimUsbDevice::LimitAnswer(uint32_t code, uint32_t bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    answerLimits_[code] = bytes;
}

void SimUsbDevice::FailRequest(uint32_t code, uint32_t error) {
    std::lock_guard<std::mutex> lock(mutex_);
    requestErrors_[code] = error;
}

void SimUsbDevice::Kick() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        kicked_ = true;
    }
    wake_.notify_all();
}

std::vector<RequestTrace> SimUsbDevice::Requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return {trace_.begin(), trace_.end()};
}

void SimUsbDevice::ClearRequests() {
    std::lock_guard<std::mutex> lock(mutex_);
    trace_.clear();
}

size_t SimUsbDevice::PendingTransfers() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return incoming_.size() + waiting_.size();
}

UsbDescriptorSet SimUsbDevice::Descriptors() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return descriptors_;
}

uint32_t SimUsbDevice::BufferSize(uint8_t endpoint) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = bufferSizes_.find(endpoint);
    return it == bufferSizes_.end() ? usb::kDefaultEndpointBufferSize : it->second;
}

bool SimUsbDevice::Unplugged() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return unplugged_;
}

void SimUsbDevice::Trace(RequestTrace trace) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (trace_.size() == kTraceDepth) trace_.pop_front();
    trace_.push_back(std::move(trace));
}

uint32_t SimUsbDevice::RequestError(uint32_t code) const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (unplugged_) return platform::kErrorDeviceNotConnected;
    auto it = requestErrors_.find(code);
    return it == requestErrors_.end() ? 0 : it->second;
}

uint32_t SimUsbDevice::AnswerLimit(uint32_t code) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = answerLimits_.find(code);
    return it == answerLimits_.end() ? UINT32_MAX : it->second;
}

uint32_t SimUsbDevice::DriverVersion() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return driverVersion_;
}

uint32_t SimUsbDevice::SecondVersion() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return secondVersion_;
}

uint8_t SimUsbDevice::Address() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return address_;
}

std::string SimUsbDevice::NameText(bool second) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return second ? nameB_ : nameA_;
}

bool SimUsbDevice::AlternateSetting(uint8_t& setting) const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (alternateSetting_ < 0) return false;
    setting = static_cast<uint8_t>(alternateSetting_);
    return true;
}

void SimUsbDevice::SetBufferSize(uint8_t endpoint, uint32_t size) {
    std::lock_guard<std::mutex> lock(mutex_);
    bufferSizes_[endpoint] = size;
}

void SimUsbDevice::Submit(TransferJob job) {
    Pending transfer{std::move(job), {}};
    bool queued = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!unplugged_) {
            transfer.fault = nextFault_;
            nextFault_ = Fault{};
            transfer.serial = ++nextSerial_;
            incoming_.push_back(std::move(transfer));
            queued = true;
        }
    }
    // Woken after the lock is let go, the device's thread does not wake
    // only to wait for it: every poll of the host comes through here.
    if (queued)
        wake_.notify_all();
    else
        Cancel(transfer, platform::kErrorDeviceNotConnected);
}

void SimUsbDevice::Abort(uint8_t endpoint) {
    std::vector<Pending> cancelled;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        // Not yet seen by the device's thread: cancelled all the same.
        for (auto it = incoming_.begin(); it != incoming_.end();) {
            if (it->job.endpoint == endpoint) {
                cancelled.push_back(std::move(*it));
                it = incoming_.erase(it);
            } else {
                ++it;
            }
        }
        for (auto it = waiting_.begin(); it != waiting_.end();) {
            if (!it->busy && it->job.endpoint == endpoint) {
                cancelled.push_back(std::move(*it));
                it = waiting_.erase(it);
            } else {
                ++it;
            }
        }
    }
    wake_.notify_all();  // a control transfer sitting out its latency may be gone
    for (Pending& transfer : cancelled) Cancel(transfer, platform::kErrorOperationAborted);
}

void SimUsbDevice::Unplug() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        unplugged_ = true;
    }
    CancelAll(platform::kErrorDeviceNotConnected);
}

void SimUsbDevice::CancelAll(uint32_t error) {
    std::vector<Pending> cancelled;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto& transfer : incoming_) cancelled.push_back(std::move(transfer));
        incoming_.clear();
        for (auto it = waiting_.begin(); it != waiting_.end();) {
            if (it->busy) {
                ++it;
                continue;
            }
            cancelled.push_back(std::move(*it));
            it = waiting_.erase(it);
        }
    }
    wake_.notify_all();
    for (Pending& transfer : cancelled) Cancel(transfer, error);
}

void SimUsbDevice::Finish(Pending& transfer, uint32_t bytes) {
    if (transfer.fault.shorten) bytes = std::min(bytes, transfer.fault.shortBytes);
    TransferOutcome outcome;
    outcome.bytes = std::min(bytes, transfer.job.length);
    transfer.job.complete(outcome);
}

void SimUsbDevice::Cancel(Pending& transfer, uint32_t error) {
    TransferOutcome outcome;
    outcome.usbStatus = kUsbStatusCanceled;
    outcome.driverStatus = kDriverStatusCancelled;
    outcome.error = error;
    transfer.job.complete(outcome);
}

void SimUsbDevice::Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (true) {
        wake_.wait(lock, [this] { return stopping_ || kicked_ || !incoming_.empty(); });
        if (stopping_) return;
        kicked_ = false;
        while (!stopping_ && !incoming_.empty()) {
            if (!HeadOutlivedLatency(lock)) continue;
            Pending transfer = std::move(incoming_.front());
            incoming_.pop_front();
            Process(std::move(transfer), lock);
        }
        if (stopping_) return;
        PumpBulkIn(lock);
    }
}

bool SimUsbDevice::HeadOutlivedLatency(std::unique_lock<std::mutex>& lock) {
    if (incoming_.front().job.endpoint != 0 || controlLatency_.count() == 0) return true;
    const uint64_t serial = incoming_.front().serial;
    auto withdrawnOrStopping = [this, serial] {
        return stopping_ || incoming_.empty() || incoming_.front().serial != serial;
    };
    // A timed wait, not a spin: the host's poll loop costs what the wire
    // does, and Submit, Abort and Unplug can take the lock meanwhile.
    const auto due = std::chrono::steady_clock::now() + controlLatency_;
    return !wake_.wait_until(lock, due, withdrawnOrStopping);
}

void SimUsbDevice::Process(Pending transfer, std::unique_lock<std::mutex>& lock) {
    const TransferJob& job = transfer.job;
    if (!transfer.fault.fail && (transfer.fault.stall || (job.endpoint != 0 && job.in))) {
        waiting_.push_back(std::move(transfer));
        return;
    }
    lock.unlock();
    if (transfer.fault.fail) {
        TransferOutcome outcome;
        outcome.usbStatus = transfer.fault.usbStatus;
        outcome.driverStatus = transfer.fault.driverStatus;
        transfer.job.complete(outcome);
    } else if (job.endpoint != 0) {
        Finish(transfer, job.length);  // bulk OUT: the device takes everything
    } else {
        lock.lock();
        const ControlOutcome answer = AnswerControl(job, lock);
        lock.unlock();
        if (answer.stall) {
            TransferOutcome outcome;
            outcome.usbStatus = kUsbStatusStall;
            outcome.driverStatus = kDriverStatusUnsuccessful;
            transfer.job.complete(outcome);
        } else {
            Finish(transfer, answer.length);
        }
    }
    lock.lock();
}

ControlOutcome SimUsbDevice::AnswerControl(const TransferJob& job,
                                           std::unique_lock<std::mutex>& lock) {
    if (IsStandard(job.setup)) return AnswerStandardRequest(job);
    std::shared_ptr<VendorRequestHandler> handler = handler_;
    if (!handler) return ControlOutcome{true, 0};
    lock.unlock();
    ControlOutcome outcome = handler->HandleControl(job.setup, job.data, job.length);
    lock.lock();
    return outcome;
}

ControlOutcome SimUsbDevice::AnswerStandardRequest(const TransferJob& job) const {
    const SetupPacket& setup = job.setup;
    if (setup.Request != usb::kGetDescriptor || !setup.DeviceToHost())
        return ControlOutcome{true, 0};
    const uint8_t type = static_cast<uint8_t>(setup.Value >> 8);
    const uint8_t index = static_cast<uint8_t>(setup.Value & 0xFF);
    const std::vector<uint8_t>* descriptor = nullptr;
    if (type == usb::kDescriptorDevice && index == 0) {
        descriptor = &descriptors_.device;
    } else if (type == usb::kDescriptorConfiguration &&
               index < descriptors_.configurations.size()) {
        descriptor = &descriptors_.configurations[index];
    } else if (type == usb::kDescriptorString && index == 0) {
        descriptor = &descriptors_.languages;
    } else if (type == usb::kDescriptorString) {
        auto it = descriptors_.strings.find(index);
        if (it != descriptors_.strings.end()) descriptor = &it->second;
    }
    if (descriptor == nullptr || descriptor->empty()) return ControlOutcome{true, 0};
    const uint32_t length =
        static_cast<uint32_t>(std::min<size_t>({descriptor->size(), job.length, setup.Length}));
    std::memcpy(job.data, descriptor->data(), length);
    return ControlOutcome{false, length};
}

void SimUsbDevice::PumpBulkIn(std::unique_lock<std::mutex>& lock) {
    while (true) {
        auto next = std::find_if(waiting_.begin(), waiting_.end(),
                                 [](const Pending& p) { return !p.fault.stall && !p.busy; });
        std::shared_ptr<FrameSource> source = source_;
        if (next == waiting_.end() || !source) return;
        next->busy = true;
        const TransferJob& job = next->job;
        lock.unlock();
        uint32_t produced = 0;
        const bool ready = source->Fill(job.endpoint, job.data, job.length, produced);
        lock.lock();
        next->busy = false;
        if (!ready && unplugged_) {
            // Unplugged while the source was asked: the unplug passed over
            // this transfer, and an aborted endpoint of a gone device is
            // never asked again, so it ends here.
            Pending transfer = std::move(*next);
            waiting_.erase(next);
            lock.unlock();
            Cancel(transfer, platform::kErrorDeviceNotConnected);
            lock.lock();
            return;
        }
        if (!ready) return;  // until the model kicks
        Pending transfer = std::move(*next);
        waiting_.erase(next);
        lock.unlock();
        Finish(transfer, produced);
        lock.lock();
    }
}

}  // namespace sim
