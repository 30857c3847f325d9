#include <gtest/gtest.h>

#include "CameraTestSupport.h"
#include "platform/NotificationWindow.h"
#include "support/WindowMessages.h"

namespace {
// The camera as bring-up leaves it with the notification window asked for:
// the device registered its open handle with the window.
class DeviceRemovalTest : public ::testing::Test {
  protected:
    void SetUp() override {
        device->SetVendorRequestHandler(std::make_shared<cameratest::ScriptedFirmware>());
        session.driver().Publish(device);
        camera.UseNotificationWindow = 1;
        ASSERT_TRUE(camera.PrepareNotificationWindow());
        camera.UsbDevice = std::make_unique<usb::CCyUSBDevice>(
            reinterpret_cast<void*>(camera.NotificationWindowHandle), sim::CameraInterfaceClass(),
            true);
        camera.Initialized = 1;
    }
    void TearDown() override { camera.Close(1); }

    platform::UsbRemovalNotice Notice(bool forHandle, platform::UsbHandle handle) {
        return {reinterpret_cast<void*>(camera.NotificationWindowHandle), forHandle, handle,
                sim::CameraInterfaceClass()};
    }

    cameratest::FreshProcess fresh;
    CTesselCamera& camera = TheCamera();
    sim::SimUsbSession session;
    std::shared_ptr<sim::SimUsbDevice> device = std::make_shared<sim::SimUsbDevice>();
};
}  // namespace

TEST_F(DeviceRemovalTest, OnlyTheNoticeForTheOpenHandleClosesTheCameraAndItsWindowOnce) {
    const platform::WindowHandle window = Process().NotificationWindow->Handle();
    platform::UsbHandle open = camera.UsbDevice->GetDeviceHandle();
    platform::DeliverUsbRemoval(Notice(true, open + 1));
    platform::DeliverUsbRemoval(Notice(false, platform::kInvalidUsbHandle));
    EXPECT_EQ(camera.IsInitialized(), 1);
    LastStatus().Set(0);
    session.driver().Unplug(device);  // the system's notice for the open handle
    EXPECT_EQ(camera.IsInitialized(), 0);
    EXPECT_EQ(camera.UsbDevice, nullptr);
    EXPECT_EQ(LastStatus().Get(), ERROR_CAMERA_NOT_INITIALIZED);
    testsupport::DispatchMessages();
    EXPECT_FALSE(platform::IsNotificationWindow(window)) << "closing the camera closes the window";
    // Once closed, a notice for the old handle does nothing.
    LastStatus().Set(7);
    platform::DeliverUsbRemoval(Notice(true, open));
    EXPECT_EQ(LastStatus().Get(), ERROR_CAMERA_TIMEOUT);
}

// Windows closes the window only when the application next dispatches
// messages; a bring-up before that must not take over the closing window.
// A window closed under the camera makes it uninitialized; the next bring-up
// makes another.
TEST_F(DeviceRemovalTest, ABringUpAfterTheWindowClosesMakesAWindowOfItsOwn) {
    const platform::WindowHandle closing = Process().NotificationWindow->Handle();
    camera.Close(1);
    EXPECT_EQ(Process().NotificationWindow, nullptr);
    ASSERT_TRUE(camera.PrepareNotificationWindow());
    EXPECT_NE(Process().NotificationWindow->Handle(), closing);
    testsupport::DispatchMessages();
    EXPECT_FALSE(platform::IsNotificationWindow(closing));
    EXPECT_TRUE(Process().NotificationWindow->IsAlive());

    camera.Initialized = 1;
    Process().NotificationWindow->PostClose();
    testsupport::DispatchMessages();
    EXPECT_EQ(camera.IsInitialized(), 0);
    ASSERT_TRUE(camera.PrepareNotificationWindow());
    EXPECT_TRUE(Process().NotificationWindow->IsAlive());
}
