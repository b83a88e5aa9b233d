// The logging gate, the device root and the timecode clock.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "base/log.h"
#include "hw/timecode.h"
#include "platform/device_path.h"
#include "support/log_capture.h"

TEST(Logging, MessageShowsOnlyWhenTheLevelAllowsIt) {
    LogCapture log(2);
    logAt(2, "shown %d\n", 2);
    logAt(3, "hidden\n");
    logAt(0, "always\n");
    EXPECT_EQ(log.text(), "shown 2\nalways\n");
}

TEST(DevicePath, RootIsPrefixedToEveryAbsolutePath) {
    unsetenv("PTZCAM_ROOT");
    EXPECT_EQ(platform::devicePath("/dev/mem"), "/dev/mem");
    setenv("PTZCAM_ROOT", "/tmp/root/", 1);
    EXPECT_EQ(platform::devicePath("/dev/mem"), "/tmp/root/dev/mem");
    unsetenv("PTZCAM_ROOT");
    unsetenv("PTZCAM_IFACE");
    EXPECT_EQ(platform::interfaceName(), "eth0");
    setenv("PTZCAM_IFACE", "veth7", 1);
    EXPECT_EQ(platform::interfaceName(), "veth7");
    unsetenv("PTZCAM_IFACE");
}

TEST(Timecode, CountsHundredsOfNanosecondsFromTheEpochAndNeverGoesBack) {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    const int64_t expected = static_cast<int64_t>(now.tv_sec) * 10000000 + now.tv_nsec / 100;
    int64_t previous = timecode_now();
    EXPECT_LT(std::llabs(previous - expected), 10000000);  // within a second of the wall clock
    for (int i = 0; i < 100000; ++i) {
        const int64_t t = timecode_now();
        ASSERT_GE(t, previous);
        previous = t;
    }
}
