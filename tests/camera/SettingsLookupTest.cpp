// Where an installed library finds its settings on POSIX systems: the
// configuration folders first, the library's own folder last.

#include <gtest/gtest.h>

#include <filesystem>

#include "CameraTestSupport.h"
#include "support/Environment.h"

#ifndef _WIN32
using namespace cameratest;
namespace fs = std::filesystem;

using testsupport::ScopedVariable;

TEST_F(CaptureTest, SettingsFoldersPrecedeTheLibraryFolderAndModeFilesNameImagesRelatively) {
    ASSERT_EQ(Initialize(), 0);
    const std::string user = dir + "home/vela2";
    fs::create_directories(user + "/epal");
    fs::rename(dir + "Vela2Usb.ini", user + "/Vela2Usb.ini");
    fs::rename(dir + "mode0.hex", user + "/epal/mode0.hex");
    // Named after a versioned shared object, as the loader reports it.
    std::ofstream(user + "/libVela2UsbCameraDll.ini")
        << "[Mode0]\nConfiguration File=epal/mode0.hex\n";
    Process().ModulePath = dir + "lib/libVela2UsbCameraDll.so.4";

    ScopedVariable noChoice("VELA2_CONFIG_DIR", "");
    ScopedVariable userHome("XDG_CONFIG_HOME", dir + "home");
    EXPECT_EQ(camera.InitializeForMode(0, "", 0), 0);
    EXPECT_EQ(Process().HardwareRegistryLocation, user + "/Vela2Usb.ini");

    const std::string chosen = dir + "chosen";
    fs::create_directories(chosen);
    std::ofstream(chosen + "/libVela2UsbCameraDll.ini") << "[Mode0]\nConfiguration File=none.hex\n";
    ScopedVariable choice("VELA2_CONFIG_DIR", chosen);
    EXPECT_EQ(camera.InitializeForMode(0, "", 0), ERROR_HEX_FILENAME);
}
#endif
