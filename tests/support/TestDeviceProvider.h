// The test suite's own device provider: a settable list of cameras and audio
// inputs that GstDeviceMonitor lists instead of the machine's devices.
//
// Usage, once per test program after gst_init():
//     quell::test::RegisterTestDeviceProvider();  // in-process, rank PRIMARY
//     quell::test::HideOtherDeviceProviders();    // pulse, v4l2, alsa, ... ranked NONE
// then in each test:
//     using namespace quell::test;
//     SetTestDevices({Camera("Cam", kPatternSmpte), Camera("Cam", kPatternBall),
//                     Microphone("Mic")});
//     ... code that lists devices through a GstDeviceMonitor ...
//     EXPECT_EQ(TestPattern(element), kPatternBall);  // which device made it
//
// Cameras create `videotestsrc is-live=true pattern=P` (or, with mjpeg, a bin
// `videotestsrc is-live=true pattern=P ! jpegenc` whose only output is
// image/jpeg); audio inputs create `audiotestsrc is-live=true wave=P`.
// Changing the list while a monitor runs is a hot-plug: running monitors
// receive device-added / device-removed messages.
#pragma once

#include <gst/gst.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace quell::test {

inline constexpr const char* kTestProviderName = "quelltestdeviceprovider";

// A few videotestsrc patterns that are easy to tell apart.
inline constexpr int kPatternSmpte = 0;
inline constexpr int kPatternSnow = 1;
inline constexpr int kPatternBlack = 2;
inline constexpr int kPatternWhite = 3;
inline constexpr int kPatternRed = 4;
inline constexpr int kPatternBall = 18;

enum class TestDeviceKind { Video, Audio };

struct TestDevice {
    // The display name; nullopt for a device that has none.
    std::optional<std::string> name;
    TestDeviceKind kind = TestDeviceKind::Video;
    // videotestsrc "pattern" for cameras, audiotestsrc "wave" for audio.
    int pattern = kPatternSmpte;
    // The camera offers only MJPEG (image/jpeg), so a decoder is needed.
    bool mjpeg = false;
    // The device's caps as a caps string; empty for the default list:
    // 640x480 and 320x240 at 30/1 and 1280x720 at 10/1 (YUY2, or image/jpeg
    // with mjpeg), or S16LE 48000 Hz stereo for audio.
    std::string caps;
    // gst_device_create_element fails (returns null) for this device.
    bool broken = false;
    // String fields of the device's properties structure, as a provider
    // gives them (e.g. {"device.path", "/dev/video0"}); none by default.
    std::vector<std::pair<std::string, std::string>> properties;
};

// Class "Video/Source".
TestDevice Camera(std::optional<std::string> name, int pattern = kPatternSmpte, bool mjpeg = false);
// Class "Audio/Source".
TestDevice Microphone(std::optional<std::string> name, int wave = 0);

// Registers the provider (once per process; later calls only report the
// first outcome). Call after gst_init().
bool RegisterTestDeviceProvider();

// Sets the rank of every other device provider factory to GST_RANK_NONE, so
// that no monitor lists the machine's real devices.
void HideOtherDeviceProviders();

// Makes the provider's start fail, as a device service that is down would.
void SetTestProviderStartFails(bool fails);

// Replaces the device list, in the order the provider delivers it.
void SetTestDevices(std::vector<TestDevice> devices);
// Appends one device (a hot-plug while a monitor runs).
void AddTestDevice(TestDevice device);
// Removes the first device whose name is `name` (an unplug); false when none.
bool RemoveTestDevice(const std::string& name);

// The pattern (or wave) of the test source inside an element made by a
// test device, looking into bins; -1 when there is none.
int TestPattern(GstElement* element);

}  // namespace quell::test
