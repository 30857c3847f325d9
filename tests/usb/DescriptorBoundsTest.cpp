// Descriptor sets come from the device: malformed ones must neither hang the
// walk, nor read past the set, nor write past the endpoint and interface tables.
#include <gtest/gtest.h>

#include "SimCamera.h"
#include "platform/ByteOrder.h"
#include "usb/DriverProtocol.h"

namespace {

using usbtest::SimCamera;

class DescriptorBounds : public ::testing::Test {
  protected:
    std::unique_ptr<usb::CCyUSBDevice> Open(const sim::UsbDescriptorSet& descriptors) {
        camera.device->SetDescriptors(descriptors);
        return camera.Open();
    }
    // Opens a device whose configuration 0 is exactly `set`.
    std::unique_ptr<usb::CCyUSBDevice> OpenWith(std::vector<uint8_t> set) {
        sim::UsbDescriptorSet descriptors = sim::UsbDescriptorSet::Camera();
        descriptors.configurations[0] = std::move(set);
        return Open(descriptors);
    }
    SimCamera camera;
};

std::vector<uint8_t> WithTotalLength(std::vector<uint8_t> set, uint16_t total) {
    platform::StoreLe16(&set[2], total);
    return set;
}

TEST_F(DescriptorBounds, ZeroLengthDescriptorEndsTheWalks) {
    // Between configuration and interface, and between an interface's endpoints.
    auto device =
        OpenWith(sim::ConfigurationSet({{0, 4, 0, 0}, sim::InterfaceDescriptor(0, 0, 1)}));
    EXPECT_EQ(device->Config(0)->AltInterfaces, 0);
    EXPECT_FALSE(device->Open(0));

    device = OpenWith(sim::ConfigurationSet({sim::InterfaceDescriptor(0, 0, 3),
                                             sim::EndpointDescriptor(0x82, 2, 512),
                                             {0, 5, 0, 0, 0, 0, 0},
                                             sim::EndpointDescriptor(0x02, 2, 512)}));
    ASSERT_TRUE(device->IsOpen());
    EXPECT_EQ(device->EndpointCount(), 4) << "the count is the descriptor's";
    EXPECT_NE(device->EndPoints[1], nullptr);
    EXPECT_EQ(device->EndPoints[2], nullptr);
    EXPECT_EQ(device->EndPoints[3], nullptr);
    EXPECT_EQ(device->BulkOutEndPt, nullptr);
}

TEST_F(DescriptorBounds, DescriptorRunningPastTheSetIsNotRead) {
    auto endpoint = sim::EndpointDescriptor(0x82, 2, 512);
    endpoint[0] = 200;  // claims far more than is there
    auto device = OpenWith(sim::ConfigurationSet({sim::InterfaceDescriptor(0, 0, 1), endpoint}));
    ASSERT_TRUE(device->IsOpen());
    EXPECT_EQ(device->EndPoints[1], nullptr);

    auto interface = sim::InterfaceDescriptor(0, 0, 0);
    interface[0] = 60;
    device = OpenWith(sim::ConfigurationSet({interface}));
    EXPECT_EQ(device->Config(0)->AltInterfaces, 0);
}

TEST_F(DescriptorBounds, TotalLengthLargerOrSmallerThanTheSet) {
    const auto full = sim::ConfigurationSet({sim::InterfaceDescriptor(0, 0, 2),
                                             sim::EndpointDescriptor(0x82, 2, 512),
                                             sim::EndpointDescriptor(0x02, 2, 512)});

    // Claims more than the device sends: only what arrived is kept and walked.
    auto device = OpenWith(WithTotalLength(full, 4000));
    ASSERT_TRUE(device->IsOpen());
    EXPECT_EQ(device->RawConfigSets[0].size(), full.size());
    EXPECT_EQ(device->EndpointCount(), 3);
    EXPECT_NE(device->EndPoints[2], nullptr);

    // Claims less: the walk stops at wTotalLength.
    device = OpenWith(WithTotalLength(full, 9 + 9 + 7));
    EXPECT_EQ(device->RawConfigSets[0].size(), 25u);
    EXPECT_NE(device->EndPoints[1], nullptr);
    EXPECT_EQ(device->EndPoints[2], nullptr);

    // Less than a configuration descriptor: no configuration at all.
    device = OpenWith(WithTotalLength(full, 5));
    EXPECT_EQ(device->Config(0), nullptr);
    EXPECT_TRUE(device->IsOpen());
    EXPECT_EQ(device->EndpointCount(), 0);
}

TEST_F(DescriptorBounds, MoreThanFifteenEndpointsAreCappedAtTheTable) {
    std::vector<std::vector<uint8_t>> parts{sim::InterfaceDescriptor(0, 0, 30)};
    for (uint8_t i = 0; i < 30; ++i)
        parts.push_back(sim::EndpointDescriptor(0x81 + (i % 15), 2, 512));
    auto device = OpenWith(sim::ConfigurationSet(parts));
    ASSERT_TRUE(device->IsOpen());
    EXPECT_EQ(device->EndpointCount(), 16);
    for (int i = 1; i < 16; ++i) EXPECT_NE(device->EndPoints[i], nullptr) << i;
}

TEST_F(DescriptorBounds, MoreThanEightInterfacesAreCapped) {
    std::vector<std::vector<uint8_t>> parts;
    for (uint8_t i = 0; i < 12; ++i) parts.push_back(sim::InterfaceDescriptor(0, i, 0));
    auto device = OpenWith(sim::ConfigurationSet(parts));
    EXPECT_EQ(device->Config(0)->AltInterfaces, 8);
    EXPECT_EQ(device->Config(0)->Interface(7)->bAltSettings, 8);
    EXPECT_EQ(device->Config(0)->Interface(8), nullptr);
}

TEST_F(DescriptorBounds, OnlyTwoConfigurationsAreRead) {
    sim::UsbDescriptorSet set = sim::UsbDescriptorSet::Camera();
    set.device[17] = 5;
    for (int i = 0; i < 4; ++i) set.configurations.push_back(set.configurations[0]);
    auto device = Open(set);
    ASSERT_TRUE(device->IsOpen());
    EXPECT_NE(device->Config(1), nullptr);
    size_t configurationRequests = 0;
    for (const auto& r : camera.Requests(usb::kIoctlControlTransfer))
        if (usbtest::HeaderOf(r.input).Value >> 8 == usb::kDescriptorConfiguration)
            ++configurationRequests;
    EXPECT_EQ(configurationRequests, 4u) << "two requests for each of two configurations";
    EXPECT_NO_THROW(device->Close());
}

TEST_F(DescriptorBounds, EndpointsWithUnknownAttributesGetNoObject) {
    auto device = OpenWith(sim::ConfigurationSet({
        sim::InterfaceDescriptor(0, 0, 3),
        sim::EndpointDescriptor(0x83, 0x05, 512),  // isochronous, async
        sim::EndpointDescriptor(0x84, 0x11, 512),  // feedback usage
        sim::EndpointDescriptor(0x82, 2, 512),
    }));
    ASSERT_EQ(device->EndpointCount(), 4);
    EXPECT_EQ(device->EndPoints[1], nullptr);
    EXPECT_EQ(device->EndPoints[2], nullptr);
    EXPECT_EQ(device->BulkInEndPt, device->EndPoints[3]);
    EXPECT_EQ(device->IsocInEndPt, nullptr);
}

TEST_F(DescriptorBounds, EndlessClassSpecificDescriptorsUseUpTheEndpointSlots) {
    std::vector<std::vector<uint8_t>> parts{sim::InterfaceDescriptor(0, 0, 2)};
    for (int i = 0; i < 20; ++i) parts.push_back({3, 0x24, 0});
    parts.push_back(sim::EndpointDescriptor(0x82, 2, 512));
    auto device = OpenWith(sim::ConfigurationSet(parts));
    ASSERT_TRUE(device->IsOpen());
    EXPECT_EQ(device->EndPoints[1], nullptr);
    EXPECT_EQ(device->EndPoints[2], nullptr);
}

TEST_F(DescriptorBounds, MalformedDeviceAndStringDescriptorsAreHarmless) {
    sim::UsbDescriptorSet set = sim::UsbDescriptorSet::Camera();
    set.device.resize(5);
    set.languages = {255, 3, 0x09, 0x04};  // claims 126 languages, sends one
    set.strings[1] = std::vector<uint8_t>(255, 0x41);
    set.strings[1][0] = 255;
    auto device = Open(set);
    EXPECT_TRUE(device->IsOpen());
    EXPECT_EQ(device->VendorID, 0) << "bytes the device did not send read as zero";
    EXPECT_EQ(device->Configurations, 0);
}

}  // namespace
