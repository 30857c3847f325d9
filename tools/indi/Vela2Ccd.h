#pragma once
// The camera as an INDI CCD. The event loop only posts requests to the
// worker and publishes what comes back; every library call that can block
// (initialization, the start of a picture, the wait for it, temperature
// reads, control writes) runs on the worker.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "QuadrantGeometry.h"
#include "Worker.h"
#include "indiccd.h"

namespace vela2indi {

// What the worker learns from an initialized camera.
struct CameraFacts : vela2cam::QuadrantGeometry {
    int32_t mode = 0;
    int binX = 1, binY = 1;
    std::string libraryVersion, firmware, versionReport;
};

// What the FITS header says about the frame beyond INDI's own keywords.
struct FrameFacts {
    int32_t mode = 0;
    std::optional<double> ccdTemperature;
    bool hardwareTrigger = false;
};

class Vela2Ccd : public INDI::CCD {
  public:
    Vela2Ccd();
    ~Vela2Ccd() override;

    bool initProperties() override;
    bool updateProperties() override;
    void ISGetProperties(const char* dev) override;
    bool ISNewSwitch(const char* dev, const char* name, ISState* states, char* names[],
                     int n) override;
    bool ISNewText(const char* dev, const char* name, char* texts[], char* names[], int n) override;

  protected:
    const char* getDefaultName() override;
    bool Connect() override;
    bool Disconnect() override;
    bool StartExposure(float duration) override;
    bool AbortExposure() override;
    bool UpdateCCDFrameType(INDI::CCDChip::CCD_FRAME type) override;
    int SetTemperature(double celsius) override;
    void TimerHit() override;
    void addFITSKeywords(INDI::CCDChip* chip) override;
    bool saveConfigItems(FILE* fp) override;

  private:
    // Event-loop side.
    void RequestConnect();
    void RequestDisconnect();
    void BuildModeSwitch();
    int32_t ChosenMode() const;
    bool ChooseMode(int32_t mode);
    // LD_Initialize on the worker; again: a new mode while connected.
    void PostInitialize(int32_t mode, bool again);
    void Connected(const CameraFacts& facts);
    void Publish(const CameraFacts& facts);
    void FinishExposure(uint64_t id, int32_t status, const FrameFacts& frame);
    void ScheduleTimer();

    // Worker side.
    std::optional<CameraFacts> InitializeCamera(int32_t mode, const std::string& modeFile,
                                                bool simulated, std::string& error);
    int32_t TakePicture(uint64_t id, uint32_t exposureMs, bool hardware, FrameFacts& frame);
    void ReadTemperatures();

    // Event-loop state.
    std::vector<int32_t> modes_;
    std::vector<ISwitch> modeSwitches_;
    ISwitchVectorProperty modeSP_{};
    IText modeFileT_[1]{};
    ITextVectorProperty modeFileTP_{};
    ISwitch triggerS_[2];
    ISwitchVectorProperty triggerSP_{};
    INumber coolerN_[3];
    INumberVectorProperty coolerNP_{};
    INumber geometryN_[5];
    INumberVectorProperty geometryNP_{};
    IText versionT_[3]{};
    ITextVectorProperty versionTP_{};
    bool busyConnecting_ = false;
    bool configLoaded_ = false;
    bool temperatureReadPending_ = false;
    int timerId_ = -1;
    bool timerArmed_ = false;
    int32_t connectedMode_ = -1;
    std::chrono::steady_clock::time_point exposureStart_;
    double exposureSeconds_ = 0.0;
    FrameFacts frameFacts_;
    CameraFacts facts_;

    // Shared with the worker.
    std::atomic<uint64_t> exposureId_{0};
    std::atomic<uint64_t> abortedId_{0};
    // Whether the process has chosen its USB backend: the library reads the
    // choice once, at its first look at the bus.
    std::atomic<int> backend_{0};  // 0 not yet, 1 hardware, 2 simulated

    // Worker state: the initialized mode and the buffers LD_StartPicture fills.
    CameraFacts camera_;
    std::vector<std::vector<uint16_t>> images_, overscans_;

    // Last, so that the worker has stopped before anything it uses goes.
    Mailbox mailbox_;
    Worker worker_;
};

}  // namespace vela2indi
