// Descriptor sets come from the device: malformed ones must neither hang the
// walk, nor read past the set, nor write past the endpoint and interface tables.
#include <gtest/gtest.h>

#include <functional>

#include "SimCamera.h"
#include "platform/ByteOrder.h"
#include "usb/DriverProtocol.h"

namespace {

using usbtest::SimCamera;
using DescriptorRun = std::vector<std::vector<uint8_t>>;

std::vector<uint8_t> WithTotalLength(std::vector<uint8_t> set, uint16_t total) {
    platform::StoreLe16(&set[2], total);
    return set;
}

struct Case {
    const char* name;
    std::vector<uint8_t> set;  // configuration 0, whole
    int altInterfaces;         // -1: no configuration at all
    int endpoints;             // the count, control endpoint included
    const char* objects;       // slots 1.. of the table: '+' an object, '.' none
    std::function<void(usb::CCyUSBDevice&)> more;
};

TEST(DescriptorBounds, MalformedConfigurationSetsAreWalkedWithinTheirBounds) {
    const auto in = [](uint8_t address) { return sim::EndpointDescriptor(address, 2, 512); };
    const auto owning = [](uint8_t endpoints) { return sim::InterfaceDescriptor(0, 0, endpoints); };
    const auto full = sim::ConfigurationSet({owning(2), in(0x82), in(0x02)});
    auto longEndpoint = in(0x82), longInterface = owning(0);
    longEndpoint[0] = 200;  // claims far more than is there
    longInterface[0] = 60;
    DescriptorRun fifteenPlus{owning(30)};
    for (uint8_t i = 0; i < 30; ++i)
        fifteenPlus.push_back(sim::EndpointDescriptor(0x81 + i % 15, 2, 512));
    DescriptorRun twelveInterfaces;
    for (uint8_t i = 0; i < 12; ++i) twelveInterfaces.push_back(sim::InterfaceDescriptor(0, i, 0));
    const std::vector<uint8_t> classSpecific{5, 0x24, 1, 2, 3};
    DescriptorRun endless{owning(2)};
    endless.insert(endless.end(), 20, {3, 0x24, 0});
    endless.push_back(in(0x82));

    const Case cases[] = {
        {"zero length before the interface", sim::ConfigurationSet({{0, 4, 0, 0}, owning(1)}), 0, 0,
         "", [](usb::CCyUSBDevice& d) { EXPECT_FALSE(d.Open(0)); }},
        {"zero length between endpoints",
         sim::ConfigurationSet({owning(3), in(0x82), {0, 5, 0, 0, 0, 0, 0}, in(0x02)}), 1, 4, "+..",
         nullptr},
        {"endpoint past the set", sim::ConfigurationSet({owning(1), longEndpoint}), 1, 2, ".",
         nullptr},
        {"interface past the set", sim::ConfigurationSet({longInterface}), 0, 0, "", nullptr},
        {"total length beyond what arrived", WithTotalLength(full, 4000), 1, 3, "++",
         [&](usb::CCyUSBDevice& d) { EXPECT_EQ(d.RawConfigSets[0].size(), full.size()); }},
        {"total length short of the set", WithTotalLength(full, 9 + 9 + 7), 1, 3, "+.",
         [](usb::CCyUSBDevice& d) { EXPECT_EQ(d.RawConfigSets[0].size(), 25u); }},
        {"total length short of a configuration", WithTotalLength(full, 5), -1, 0, "", nullptr},
        {"more endpoints than the table", sim::ConfigurationSet(fifteenPlus), 1, 16,
         "+++++++++++++++", nullptr},
        {"more interfaces than the table", sim::ConfigurationSet(twelveInterfaces), 8, 1, "",
         [](usb::CCyUSBDevice& d) {
             EXPECT_EQ(d.Config(0)->Interface(7)->bAltSettings, 8);
             EXPECT_EQ(d.Config(0)->Interface(8), nullptr);
         }},
        {"unknown endpoint attributes",
         sim::ConfigurationSet({owning(3), sim::EndpointDescriptor(0x83, 0x05, 512),
                                sim::EndpointDescriptor(0x84, 0x11, 512), in(0x82)}),
         1, 4, "..+",
         [](usb::CCyUSBDevice& d) {
             EXPECT_EQ(d.BulkInEndPt, d.EndPoints[3]);
             EXPECT_EQ(d.IsocInEndPt, nullptr);
         }},
        {"class-specific descriptors between endpoints",
         sim::ConfigurationSet({owning(3), classSpecific, in(0x82), classSpecific, classSpecific,
                                in(0x02), sim::EndpointDescriptor(0x81, 3, 64)}),
         1, 4, "+++",
         [](usb::CCyUSBDevice& d) {
             EXPECT_EQ(d.EndPoints[2]->Address, 0x02);
             EXPECT_EQ(d.EndPoints[3]->Address, 0x81);
             EXPECT_EQ(d.Config(0)->Interface(0)->wTotalLength, 9 + 3 * 5 + 3 * 7);
         }},
        {"class-specific descriptors without end", sim::ConfigurationSet(endless), 1, 3, "..",
         nullptr},
        {"configuration without an interface", sim::ConfigurationSet({}, 0), 0, 0, "",
         [](usb::CCyUSBDevice& d) {
             EXPECT_FALSE(d.Open(0));
             EXPECT_TRUE(d.IsOpen()) << "the handle and the ids are kept";
             EXPECT_EQ(d.VendorID, sim::kCameraVendorId);
             EXPECT_NE(d.ControlEndPt, nullptr);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::UsbDescriptorSet descriptors = sim::UsbDescriptorSet::Camera();
        descriptors.configurations[0] = c.set;
        SimCamera camera(descriptors);
        auto device = camera.Open();
        ASSERT_TRUE(device->IsOpen());
        EXPECT_EQ(device->Config(0) ? device->Config(0)->AltInterfaces : -1, c.altInterfaces);
        EXPECT_EQ(device->EndpointCount(), c.endpoints) << "the count is the descriptor's";
        EXPECT_TRUE(c.endpoints != 0 || device->EndPoints == nullptr);
        for (size_t i = 0; c.objects[i]; ++i)
            EXPECT_EQ(device->EndPoints[i + 1] != nullptr, c.objects[i] == '+') << "slot " << i + 1;
        if (c.more) c.more(*device);
        EXPECT_NO_THROW(device->Close());
    }
}

TEST(DescriptorBounds, MalformedDeviceAndStringDescriptorsAndExtraConfigurations) {
    sim::UsbDescriptorSet set = sim::UsbDescriptorSet::Camera();
    set.device.resize(5);
    set.languages = {255, 3, 0x09, 0x04};  // claims 126 languages, sends one
    set.strings[1] = std::vector<uint8_t>(255, 0x41);
    set.strings[1][0] = 255;
    SimCamera malformed(set);
    auto device = malformed.Open();
    EXPECT_TRUE(device->IsOpen() && device->VendorID == 0 && device->Configurations == 0)
        << "bytes the device did not send read as zero";

    // Only two of five configurations are read, with two requests each.
    set = sim::UsbDescriptorSet::Camera();
    set.device[17] = 5;
    for (int i = 0; i < 4; ++i) set.configurations.push_back(set.configurations[0]);
    SimCamera five(set);
    device = five.Open();
    ASSERT_TRUE(device->IsOpen());
    EXPECT_NE(device->Config(1), nullptr);
    size_t configurationRequests = 0;
    for (const auto& r : five.Requests(usb::kIoctlControlTransfer))
        configurationRequests +=
            usbtest::HeaderOf(r.input).Value >> 8 == usb::kDescriptorConfiguration;
    EXPECT_EQ(configurationRequests, 4u);
    EXPECT_NO_THROW(device->Close());
}

}  // namespace
