#pragma once
// The one camera of the process: its settings, geometry, trigger mode and
// timeouts, the locks that order access to the hardware, and the operations
// behind the exported functions.

#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "camera/CameraGate.h"
#include "camera/VendorProtocol.h"
#include "platform/CriticalSection.h"

namespace usb {
class CCyUSBDevice;
}
class CAbsPropertyReader;

// Registry root keys as the settings name them.
constexpr uint32_t kHkeyCurrentUser = 0x80000001u;
constexpr uint32_t kHkeyLocalMachine = 0x80000002u;

// The open-device handle value that means "none".
constexpr intptr_t kInvalidHandle = -1;

// Counts one Close or LD_Initialize for as long as it runs.
class LifecycleCall {
  public:
    explicit LifecycleCall(std::atomic<int32_t>& pending) : pending_(pending) { ++pending_; }
    ~LifecycleCall() { --pending_; }
    LifecycleCall(const LifecycleCall&) = delete;
    LifecycleCall& operator=(const LifecycleCall&) = delete;

  private:
    std::atomic<int32_t>& pending_;
};

class CTesselCamera {
  public:
    CTesselCamera();
    virtual ~CTesselCamera();
    CTesselCamera(const CTesselCamera&) = delete;
    CTesselCamera& operator=(const CTesselCamera&) = delete;

    // Stops the workers, releases the device and the notification window and
    // marks the camera uninitialized. Safe to repeat; the argument is not read.
    virtual void Close(int32_t unused);
    virtual int32_t GetWidth();
    virtual int32_t GetHeight();
    // Timeout := time + the margin of the current trigger mode; returns it.
    virtual uint32_t SetTimeout(uint32_t timeMs);
    virtual int32_t IsInitialized();
    virtual intptr_t GetDeviceHandle();
    // Raw vendor requests for service tools: request code, value and index as
    // text (decimal, or hexadecimal where the text holds "0x"). 1 sent, 0 not.
    virtual int32_t WriteVendorRequest(const char* request, const char* value, const char* index,
                                       uint8_t* buffer, int32_t length);
    virtual int32_t ReadVendorRequest(const char* request, const char* value, const char* index,
                                      uint8_t* buffer, int32_t length);

    // --- Vendor requests (1 done, 0 failed; the failure code in LastStatus) ---
    // One control transfer on endpoint 0 under ControlLock. A write is
    // followed by ControlWriteDelay with the lock still held: the camera
    // needs that pause before its next request.
    int32_t ControlWrite(uint16_t value, const uint8_t* buffer, int32_t length,
                         uint8_t request = kCameraRequest, uint16_t index = 0);
    // On success the buffer holds exactly length bytes from the camera.
    int32_t ControlRead(uint16_t value, uint8_t* buffer, int32_t length,
                        uint8_t request = kCameraRequest, uint16_t index = 0);
    // Sets AbortRequested, then sends the reset command (argument non-zero)
    // or the soft reset (zero).
    int32_t Reset(int32_t argument);
    // Copies up to 32 bytes of the camera status record.
    int32_t GetCameraStatus(uint8_t* buffer, int32_t length);
    // Reads the 64-byte status record into record; state is its byte 10.
    int32_t ReadCameraState(uint8_t* record, uint8_t& state);

    // --- Temperatures and cooler (status codes) ---
    int32_t GetCcdTemperature(double* value);
    int32_t GetHeatSinkTemperature(double* value);
    int32_t GetTopTecCurrent(double* value);
    int32_t GetBottomTecCurrent(double* value);
    // Raw copy of the temperature record: 1 done, 0 failed.
    int32_t UpdateTemperature(uint8_t* buffer, int32_t length);
    int32_t SetTemperatureSetpoint(int32_t setpoint);

    // --- Memory blocks (1 done, 0 failed) ---
    // Every request moves one 64-byte block, whatever the caller's length.
    int32_t WriteFpga(const uint8_t* data, int32_t length, int32_t alternative);
    int32_t WriteClockVoltages(const uint8_t* data, int32_t length);
    int32_t WriteOffsets(const uint8_t* data, int32_t length);
    int32_t WriteCalibration(const uint8_t* data, int32_t length);
    int32_t WriteProductInfo(const uint8_t* data, int32_t length);
    int32_t ReadFpga(uint8_t* buffer, int32_t length, int32_t alternative);
    // From the block image; no traffic.
    int32_t ReadClockVoltages(uint8_t* buffer, int32_t length);
    // The offsets are the second half of their block: they land at offset 32
    // of the caller's buffer.
    int32_t ReadOffsets(uint8_t* buffer, int32_t length);
    int32_t ReadCalibration(uint8_t* buffer, int32_t length);
    int32_t ReadProductInfo(uint8_t* buffer, int32_t length);
    // The blocks the settings enable, from (or into) a 192-byte buffer laid
    // out as bytes 0-191 of the block image.
    int32_t Upload(const uint8_t* data, int32_t length);
    int32_t Download(uint8_t* buffer, int32_t length);

    // --- EPAL parameters and frame geometry ---
    // Loads the geometry and the reconstruction plan from the block image of
    // length bytes; bytes the plan needs past its end read as zero. FALSE,
    // with LastStatus set where the failure has a code, when the block is
    // unreadable, enables no quadrant, or has impossible sizes.
    int32_t ConfigureFromHexfile(uint8_t* image, int32_t length);
    int32_t ComputeFrameGeometry();
    // Writes the computed sizes back into the block (and the camera). Status.
    int32_t WriteFrameGeometry();
    int32_t SetFrameSize(int32_t enable, int32_t width, int32_t height, int32_t overscanColumns,
                         int32_t overscanRows);
    // Bytes of one frame transfer (a whole number of 512-byte packets).
    int32_t ComputeTransferSize();
    // Copies a raw frame into the pending picture request's buffers.
    // blockImage: the block image the frame was taken with.
    int32_t ReconstructFrame(const uint16_t* rawFrame, std::vector<uint8_t>& blockImage);

    // --- Initialization ---
    // LD_Initialize: chooses the mode's EPAL file and the settings location,
    // then initializes. Status: 0, -21, -22, -4 or 18.
    int32_t InitializeForMode(int32_t mode, const char* modeFile, int32_t registry);
    // Reads the settings, brings the device up, starts the workers once per
    // process. FALSE with the cause in LastStatus.
    int32_t Initialize(const std::string& hexFile, const std::string& location, int32_t registry);
    // Opens the listed device, finds its bulk IN endpoint, loads the EPAL
    // file and sends the enabled blocks. 1 ready, 0 not.
    int32_t InitializeDevice();
    // Creates the process's notification window (or a new window for it when
    // the old one has gone) and makes it the device's; false with -39.
    bool PrepareNotificationWindow();
    // Loads the first size bytes of a file; false when it is shorter.
    static bool OpenHexFile(const std::string& path, std::vector<uint8_t>& bytes, size_t size);

    // --- Capture ---
    virtual int32_t RunCapture();
    int32_t StartPicture(uint16_t* images[4], int32_t width, int32_t height, uint16_t* overscans[4],
                         int32_t overscanWidth, int32_t overscanHeight);
    int32_t Capture(uint16_t* rawBuffer);
    int32_t WaitForCapture(uint32_t timeMs);
    int32_t IsCaptureComplete();

    // --- Exposure, trigger mode, test pattern, camera type (status codes) ---
    int32_t GetExposureTime(uint32_t* exposure, uint32_t* length, uint32_t* start);
    int32_t SetExposureTime(uint32_t exposure, uint32_t length, uint32_t start);
    int32_t SetTestPatternMode(uint32_t mode);
    int32_t GetTestPatternMode(uint32_t* mode);
    int32_t GetCameraType(uint32_t* type);

    static constexpr uint8_t kCameraRequest = vendor::kRequest;
    static constexpr int32_t kBlockSize = vendor::kBlockSize;
    static constexpr int32_t kUploadSize = 192;

    // Plain getters and setters behind the exports.
    int32_t GetActiveWidth() const { return QuadrantWidth; }
    int32_t GetActiveHeight() const { return QuadrantHeight; }
    int32_t GetOverscanWidth() const;
    int32_t GetOverscanHeight() const;
    // What the size getters answer while the camera has no geometry.
    static constexpr int32_t kNoGeometry = -1;
    int32_t GetEpalQuadrantWidth() const { return Initialized ? EpalQuadrantWidth : kNoGeometry; }
    int32_t GetEpalQuadrantHeight() const { return Initialized ? EpalQuadrantHeight : kNoGeometry; }
    int32_t GetRawImageWidth() const { return RawImageWidth; }
    int32_t GetRawImageHeight() const { return RawImageHeight; }
    int32_t GetNumberOfQuadrants() const { return NumberOfQuadrants; }
    int32_t GetReadoutTime() const { return ReadoutTime; }
    int32_t SetSimulationMode(int32_t flag);
    int32_t GetSimulationMode(int32_t* flag) const;
    void SetRawImageFilename(const char* path);
    // The raw-image file's name as it is now: the capture thread reads it
    // while the application may set it.
    std::string RawImageFile() const;
    int32_t SetCreateRawImageFile(int32_t flag);
    int32_t GetTimeout(uint32_t* timeMs) const;
    void SetSoftwareTrigger(int32_t flag) { SoftwareTrigger = flag; }
    void SetDesiredCameraState(uint8_t mask) { DesiredCameraState = mask; }
    uint8_t GetDesiredCameraState() const { return DesiredCameraState; }

    // Fills the three binning tables with their start-up values.
    void FillBinningTables();

    // Fields, in the order the camera's layout gives them.
    int32_t SoftwareTriggerMargin = 50;
    int32_t HardwareTriggerMargin = 3000;
    const char* SettingsKeyPath = "Software\\Quintaris Riravir\\QNT USB\\Camera Settings";
    int32_t EpalQuadrantHeight = 0;
    int32_t EpalQuadrantWidth = 0;
    // Fields that the capture thread reads while the application may set
    // them are atomic.
    std::atomic<int32_t> Initialized{0};
    std::atomic<int32_t> SimulationMode{0};
    std::atomic<uint8_t> DesiredCameraState{0x21};
    int32_t NumberOfQuadrants = 4;
    int32_t SoftResetOnInitialize = 0;
    std::string HexFilename;
    std::string RawImageFilename;
    mutable std::mutex RawImageFilenameLock;
    int32_t ControlEndpointTimeout = 0;
    int32_t BulkInEndpointIndex = -1;
    std::atomic<int32_t> CreateRawImageFile{0};
    intptr_t NotificationWindowHandle = 0;
    int32_t ReReadImage = 0;
    std::array<uint8_t, 272> Reconstruction{};
    uint32_t ControlWriteDelay = 2000;
    std::atomic<int32_t> AbortRequested{0};
    std::atomic<uint32_t> Timeout{50};
    double TemperatureScale = 0.01;
    double KelvinOffset = 273.15;
    std::atomic<int32_t> ExposureTime{100};
    std::atomic<int32_t> SoftwareTrigger{0};
    int32_t ConvertOption = 1;
    int32_t ReadoutTime = 15000;
    int32_t RawQuadrantWidth = 0;
    int32_t RawQuadrantHeight = 0;
    int32_t QuadrantWidth = 0;
    int32_t QuadrantHeight = 0;
    int32_t RawImageWidth = 0;
    int32_t RawImageHeight = 0;
    uint32_t RegistryRoot = kHkeyLocalMachine;
    int32_t UseNotificationWindow = 0;
    int32_t InvertShutterSignals = 0;
    std::unique_ptr<usb::CCyUSBDevice> UsbDevice;
    const char* DriverInterfaceGuid = "{C3085563-87DB-4e0a-ABDC-5747B2EB9BF3}";
    platform::CriticalSection ControlLock;
    platform::CriticalSection CaptureLock;
    std::vector<uint8_t> StateBuffer;
    std::unique_ptr<CAbsPropertyReader> SettingsReader;
    std::vector<uint8_t> EpalData;
    // The capture's own copy of the block image, taken as it starts: block
    // writes from other threads go on during the capture and must not
    // change the reconstruction halfway through a frame.
    std::vector<uint8_t> CaptureBlockImage;
    std::map<int32_t, int32_t> PrescanColumnsByBinning;
    std::map<int32_t, int32_t> PrescanRowsByBinning;
    std::vector<int32_t> ActiveQuadrants;
    std::map<int32_t, int32_t> FixedPrescanColumnsByBinning;
    int32_t FixedPrescanColumns = 3;
    std::string ThreadPriority = "THREAD_PRIORITY_NORMAL";
    std::string PriorityClass = "NORMAL_PRIORITY_CLASS";
    int32_t CameraTypeFirstByte = 185;
    int32_t CameraTypeLastByte = 245;
    const char* SensorSuffix = "_5253";
    // How long a capture waits for the camera to come back to idle before
    // it triggers. Not a setting: only tests shorten it.
    uint32_t IdleStateTimeoutMs = 10000;

    // Close and initialization run one at a time. Lock
    // order: LifecycleLock, Gate, BlockImageLock, CaptureLock, ControlLock.
    std::mutex LifecycleLock;
    // Operations that use the device or the state initialization builds
    // pass it shared; Close and initialization pass it alone.
    CameraGate Gate;
    // Held by the exports that read or change the block image, which copy
    // into it and send what they copied.
    std::mutex BlockImageLock;
    // True while a capture body runs: a reset that aborts it leaves the
    // capture's own result as the last status.
    std::atomic<bool> CaptureRunning{false};
    // Close and LD_Initialize calls under way, waiting ones included. A
    // capture that starts meanwhile ends at once with -4: it could only hold
    // them off, and its camera is going away.
    std::atomic<int32_t> LifecycleCallsPending{0};

  private:
    bool HasOpenDevice() const;
    void AbortBulkTransfer();
    // Tells a capture in progress to stop and cancels its frame transfer,
    // again and again until the capture has ended or limitMs have passed:
    // the capture may submit its transfer just after one cancel.
    void AbortRunningCapture(uint32_t limitMs);
    // The same, inside the gate, for Close and LD_Initialize.
    void AbortCapture();
    // LD_Initialize once it may run alone.
    int32_t InitializeForModeAlone(int32_t mode, const char* modeFile, int32_t registry);
    int32_t ControlTransfer(bool read, uint16_t value, uint8_t* buffer, int32_t length,
                            uint8_t request, uint16_t index);
    int32_t VendorRequest(bool read, const char* request, const char* value, const char* index,
                          uint8_t* buffer, int32_t length);
    // Reads the 64-byte temperature record, once more after 10 ms if the
    // first read fails.
    bool ReadTemperatureRecord(uint8_t (&record)[kBlockSize]);
    int32_t ReadTemperatureWord(size_t at, bool subtractOffset, double* value);
    // A "General Info" flag that must be present: false (status -40) when
    // the reader cannot give it.
    bool ReadRequiredFlag(const char* key, int32_t& flag);
    // Grows the block image, zero-filled, to at least size bytes.
    void EnsureImage(size_t size);
    int32_t WriteStagedBlock(uint16_t command, const uint8_t* data, int32_t length,
                             const char* failure);
    int32_t ReadStagedBlock(uint16_t command, uint8_t* buffer, int32_t length, const char* failure);
    // The capture timeout that follows an exposure in the current trigger mode.
    void ApplyExposureTimeout();
    int32_t StartWorkerThreads();
    bool FindListedDevice();
    bool FindBulkInEndpoint(int32_t endpointNumber, uint32_t bufferSize);
    bool LoadHexFile();
    // Waits for the capture thread to arm the camera (0) or to finish
    // without arming it (-50); -2 when the wait itself fails.
    int32_t WaitUntilArmed();
    uint32_t CaptureThreadBody();
    uint32_t NotificationThreadBody();
    // The capture body without its lock and status: returns the result.
    int32_t CaptureFrame();
    // Idle wait, trigger and state wait; a status code.
    int32_t WaitForIdle(int64_t ticksPerMs);
    int32_t TriggerAndWaitForState(int64_t ticksPerMs);
    // After the frame is in: the raw capture is done, a picture reconstructed.
    int32_t FinishCapture(const uint16_t* frame, int32_t pictureBytes);
};
