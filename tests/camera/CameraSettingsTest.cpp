#include <gtest/gtest.h>

#include "CameraTestSupport.h"
#include "camera/CameraSettings.h"

using namespace cameratest;

TEST(CameraSettings, DelaysAboveAMinuteAreTakenAsAMinute) {
    CTesselCamera camera;
    struct Case {
        const char* text;
        uint32_t controlWriteMs, settleMs;
    };
    for (Case c : {Case{"-1", 2000, 5000}, Case{"60000", 60000, 60000},
                   Case{"4294967295", 60000, 60000}, Case{"-2", 60000, 60000}}) {
        auto settings = std::make_unique<MapPropertyReader>();
        auto& general = settings->sections["General Info"];
        general["Delay after Control Endpoint Write (mSec)"] = c.text;
        general["Delay after Initialization (mSec)"] = c.text;
        general["Send FPGA data during initialize?"] = "0";
        camera.SettingsReader = std::move(settings);
        camera_settings::InitializationValues values;
        ASSERT_TRUE(camera_settings::ReadInitializationSettings(camera, "mode.hex", values));
        EXPECT_EQ(camera.ControlWriteDelay, c.controlWriteMs) << c.text;
        EXPECT_EQ(values.settleDelayMs, c.settleMs) << c.text;
    }
}

TEST(CameraSettings, MemoryRunningOutFailsTheReadingWithStatus3) {
    CTesselCamera camera;
    camera.SettingsReader = std::make_unique<ExhaustedPropertyReader>();
    camera_settings::InitializationValues values;
    LastStatus().Set(0);
    EXPECT_FALSE(camera_settings::ReadInitializationSettings(camera, "mode.hex", values));
    EXPECT_EQ(LastStatus().Get(), ERROR_INCORRECT_IMAGE_BUFFER_SIZE);
}
