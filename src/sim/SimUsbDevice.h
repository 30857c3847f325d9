#pragma once
// The simulated camera's USB side as a device model: its descriptors, the
// driver's answers about it, per-endpoint buffer sizes, the transfers it holds
// pending, fault knobs and unplugging. Transfers run on the device's own
// thread, one at a time, so the vendor-request handler and the frame source
// never race each other.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/Thread.h"
#include "sim/FrameSource.h"
#include "sim/UsbDescriptorSet.h"
#include "sim/VendorRequestHandler.h"
#include "usb/DriverProtocol.h"

namespace sim {

using usb::kDriverStatusCancelled;
using usb::kDriverStatusUnsuccessful;
using usb::kUsbStatusCanceled;
using usb::kUsbStatusStall;

// How a transfer ended: payload bytes, the two status words, and the error the
// overlapped result reports (0, or 995 when cancelled).
struct TransferOutcome {
    uint32_t bytes = 0;
    uint32_t usbStatus = 0;
    uint32_t driverStatus = 0;
    uint32_t error = 0;
};

// One transfer as the driver adapter hands it over.
struct TransferJob {
    uint8_t endpoint = 0;  // 0: control transfer described by setup
    bool in = false;
    SetupPacket setup{};
    uint8_t* data = nullptr;  // length bytes; the caller's buffer on direct transfers
    uint32_t length = 0;
    std::function<void(const TransferOutcome&)> complete;
};

// One request as the driver received it, for tests to inspect.
struct RequestTrace {
    uint32_t code = 0;
    std::vector<uint8_t> input;  // at most the first 4 KiB
    uint32_t inputSize = 0;
    const void* output = nullptr;
    uint32_t outputSize = 0;
    bool overlapped = false;
};

class SimUsbDevice {
  public:
    // What its thread is called: the simulated camera's threads all start
    // with "vela2sim", so a measurement can tell them from the library's.
    static constexpr const char* kThreadName = "vela2sim usb";

    explicit SimUsbDevice(UsbDescriptorSet descriptors = UsbDescriptorSet::Camera());
    // Cancels whatever is pending, then stops the device's thread.
    ~SimUsbDevice();
    SimUsbDevice(const SimUsbDevice&) = delete;
    SimUsbDevice& operator=(const SimUsbDevice&) = delete;

    // --- Set-up, from any thread ---
    void SetDescriptors(UsbDescriptorSet descriptors);
    void SetDriverVersion(uint32_t version);
    void SetSecondVersion(uint32_t version);
    void SetAddress(uint8_t address);
    void SetNameTexts(const std::string& a, const std::string& b);
    // The driver's current alternate setting; negative makes the request fail.
    void SetAlternateSetting(int setting);
    void SetVendorRequestHandler(std::shared_ptr<VendorRequestHandler> handler);
    void SetFrameSource(std::shared_ptr<FrameSource> source);
    // How long each control transfer takes on the wire before the device
    // answers it, as a camera's round trip does; 0 answers at once. A host
    // polling the device back to back is paced by it, not by its own CPU.
    void SetControlLatency(std::chrono::microseconds latency);

    // --- Faults for the next transfer request (control or data) ---
    // It stays pending until its endpoint is aborted.
    void StallNextTransfer();
    // It moves at most `bytes` of what was asked.
    void ShortenNextTransfer(uint32_t bytes);
    // It completes with these status words and no data.
    void FailNextTransfer(uint32_t usbStatus, uint32_t driverStatus);
    // Every answer to `code` carries at most `bytes` (UINT32_MAX: no limit).
    void LimitAnswer(uint32_t code, uint32_t bytes);
    // Every request `code` fails with `error` (0: succeeds again).
    void FailRequest(uint32_t code, uint32_t error);

    // Tells the device that a frame source held back may now be ready.
    void Kick();

    // --- Observation ---
    UsbDescriptorSet Descriptors() const;
    std::vector<RequestTrace> Requests() const;
    void ClearRequests();
    size_t PendingTransfers() const;
    uint32_t BufferSize(uint8_t endpoint) const;
    bool Unplugged() const;

    // --- The driver's side, used by the request adapter ---
    void Trace(RequestTrace trace);
    uint32_t RequestError(uint32_t code) const;
    uint32_t AnswerLimit(uint32_t code) const;
    uint32_t DriverVersion() const;
    uint32_t SecondVersion() const;
    uint8_t Address() const;
    std::string NameText(bool second) const;
    bool AlternateSetting(uint8_t& setting) const;
    uint32_t GetBufferSize(uint8_t endpoint) const { return BufferSize(endpoint); }
    void SetBufferSize(uint8_t endpoint, uint32_t size);
    // Completes later on the device's thread (or at once, cancelled, when unplugged).
    void Submit(TransferJob job);
    // Completes the endpoint's pending transfers as cancelled.
    void Abort(uint8_t endpoint);
    // Cancels everything and refuses what follows.
    void Unplug();

  private:
    struct Fault {
        bool stall = false;
        bool shorten = false;
        uint32_t shortBytes = 0;
        bool fail = false;
        uint32_t usbStatus = 0;
        uint32_t driverStatus = 0;
    };
    struct Pending {
        TransferJob job;
        Fault fault;
        bool busy = false;  // with the frame source right now: not to be cancelled
        uint64_t serial = 0;
    };

    void Run();
    // Holds the transfer at the head of the queue for the control latency,
    // letting go of the lock meanwhile. False when it was withdrawn (aborted,
    // unplugged) or the device is stopping.
    bool HeadOutlivedLatency(std::unique_lock<std::mutex>& lock);
    // Caller holds the lock, which is let go while handlers and completions run.
    void Process(Pending transfer, std::unique_lock<std::mutex>& lock);
    void PumpBulkIn(std::unique_lock<std::mutex>& lock);
    ControlOutcome AnswerControl(const TransferJob& job, std::unique_lock<std::mutex>& lock);
    ControlOutcome AnswerStandardRequest(const TransferJob& job) const;
    static void Finish(Pending& transfer, uint32_t bytes);
    static void Cancel(Pending& transfer, uint32_t error);
    void CancelAll(uint32_t error);

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    UsbDescriptorSet descriptors_;
    uint32_t driverVersion_ = 0x01050500;
    uint32_t secondVersion_ = 0x00010000;
    uint8_t address_ = 1;
    std::string nameA_ = "Vela2 simulated camera";
    std::string nameB_ = "vela2sim";
    int alternateSetting_ = 0;
    std::shared_ptr<VendorRequestHandler> handler_;
    std::shared_ptr<FrameSource> source_;
    Fault nextFault_;
    std::map<uint32_t, uint32_t> answerLimits_;
    std::map<uint32_t, uint32_t> requestErrors_;
    std::map<uint8_t, uint32_t> bufferSizes_;
    std::deque<RequestTrace> trace_;
    std::chrono::microseconds controlLatency_{0};
    uint64_t nextSerial_ = 0;
    std::deque<Pending> incoming_;
    std::list<Pending> waiting_;  // held until data come, or until aborted
    bool kicked_ = false;
    bool unplugged_ = false;
    bool stopping_ = false;
    std::unique_ptr<platform::Thread> thread_;
};

}  // namespace sim
