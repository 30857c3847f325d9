#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Vela2UsbCameraDll.h"
#include "camera/ProcessObjects.h"

namespace {
// Exports share one process-wide camera: each test starts from a fresh one.
class ExportsTest : public ::testing::Test {
  protected:
    ExportsTest() { RenewProcessObjects(); }
    void TearDown() override { Close(); }
};
}  // namespace

// Closing a camera that never came up leaves "not initialized" behind, each time.
TEST_F(ExportsTest, UninitializedCameraAnswersFromDefaults) {
    EXPECT_EQ((std::vector<int64_t>{IsInitialized(), LD_IsInitialized(), GetWidth(), GetHeight(),
                                    GetDeviceHandle(), GetNumberOfQuadrants(), LD_GetReadoutTime(),
                                    LD_GetActiveWidth(), LD_GetRawImageWidth()}),
              (std::vector<int64_t>{0, 0, -1, -1, -1, 4, 15000, 0, 0}));
    EXPECT_STREQ(GetHardwareRegistryLocation(), "Software\\Quintaris Riravir\\USB\\VELA2_USB");
    // The settings are looked for beside the module the exports live in.
    EXPECT_NE(Process().ModulePath.find("test_api"), std::string::npos);
    EXPECT_EQ(Process().IniFileName, std::string(1, platform::kPathSeparator) + "Vela2Usb.ini");
    for (int round = 0; round < 2; ++round) {
        LastStatus().Set(0);
        Close();
        EXPECT_EQ(LD_GetStatus(), ERROR_CAMERA_NOT_INITIALIZED);
    }
}

// Getters refuse a null destination or one they cannot write, and store into
// a good one before they test whether they can answer.
TEST_F(ExportsTest, GettersRefuseDestinationsTheyCannotWriteAndStoreBeforeTheyTest) {
    const struct {
        const char* name;
        decltype(&LD_GetQuadrantWidth) get;
        int32_t status, value;
    } getters[] = {{"OverscanWidth", LD_GetOverscanWidth, CAMERA_INVALID_VALUE, -1},
                   {"OverscanHeight", LD_GetOverscanHeight, CAMERA_INVALID_VALUE, -1},
                   {"EpalQuadrantWidth", LD_GetEpalQuadrantWidth, CAMERA_INVALID_VALUE, -1},
                   {"EpalQuadrantHeight", LD_GetEpalQuadrantHeight, CAMERA_INVALID_VALUE, -1},
                   {"QuadrantWidth", LD_GetQuadrantWidth, CAMERA_SUCCESS, 0},
                   {"QuadrantHeight", LD_GetQuadrantHeight, CAMERA_SUCCESS, 0}};
    for (const auto& g : getters) {
        SCOPED_TRACE(g.name);
        int32_t value = 12345;
        EXPECT_EQ(g.get(&value), g.status);
        EXPECT_EQ(value, g.value);
        EXPECT_EQ(g.get(nullptr), CAMERA_FAILURE);
    }
    EXPECT_EQ(LD_GetTimeout(nullptr), VELA2_INVALID_PARAMETER);
    EXPECT_EQ(LD_GetSimulationMode(nullptr), 0);

    // A destination the caller cannot write is refused, never written through.
    static const uint64_t kReadOnly[8] = {1, 2, 3, 4, 5, 6, 7, 8};  // in a read-only section
    auto* number = reinterpret_cast<int32_t*>(const_cast<uint64_t*>(kReadOnly));
    auto* unsignedNumber = reinterpret_cast<uint32_t*>(number);
    EXPECT_EQ(LD_GetSimulationMode(number), CAMERA_FAILURE);
    EXPECT_EQ(LD_GetQuadrantWidth(number), CAMERA_FAILURE);
    EXPECT_EQ(LD_GetTimeout(unsignedNumber), VELA2_INVALID_PARAMETER);
    EXPECT_EQ(LD_GetExposureTime(unsignedNumber, nullptr, nullptr), CAMERA_FAILURE);
    EXPECT_EQ(LD_GetTestPatternMode(unsignedNumber), CAMERA_FAILURE);
    EXPECT_EQ(LD_GetCameraType(unsignedNumber), CAMERA_FAILURE);
    EXPECT_NE(LD_GetTemperature(reinterpret_cast<double*>(number)), CAMERA_SUCCESS);
    LD_GetError(ERROR_CAMER_RESET, reinterpret_cast<char*>(number));
    EXPECT_EQ(kReadOnly[0], 1u);
}

// The timeout adds the margin of the trigger mode it was set in (each margin
// also in EpalTest); settings are stored as given, never read back from the
// device.
TEST_F(ExportsTest, TimeoutAddsTheMarginOfTheTriggerModeAndSettersAreStoredAsGiven) {
    SetHardwareTrigger(1);
    EXPECT_EQ(LD_GetEnableSoftwareTrigger(), 0);
    SetSoftwareTrigger(7);
    EXPECT_EQ(LD_GetEnableSoftwareTrigger(), 7);
    SetHardwareTrigger(0);
    EXPECT_EQ(LD_GetEnableSoftwareTrigger(), 1);
    EXPECT_EQ(LD_SetTimeout(1000), 0);
    // Changing the trigger mode alone does not recompute the timeout.
    EXPECT_EQ(LD_SetEnableSoftwareTrigger(0), 0);
    uint32_t timeout = 0;
    EXPECT_EQ(LD_GetTimeout(&timeout), 0);
    EXPECT_EQ(timeout, 1050u);
    EXPECT_EQ(TheCamera().SetTimeout(0xFFFFFFFFu), 0xFFFFFFFFu) << "saturates, never wraps";

    int32_t flag = -1;
    EXPECT_EQ(LD_SetSimulationMode(1), 0);
    EXPECT_EQ(LD_GetSimulationMode(&flag), 0);
    EXPECT_EQ(flag, 1);
    LD_SetRawImageFilename("/tmp/frame.raw");
    LD_SetRawImageFilename(nullptr);
    EXPECT_EQ(TheCamera().RawImageFilename, "");
    SetCameraState(0x40);
    EXPECT_EQ(GetCameraState(), 0x40);
}
