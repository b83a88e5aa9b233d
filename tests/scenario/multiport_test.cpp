// The MultiPort adapter on /dev/ttyS1 against its model: probe, key and reply frames, the
// adapter's own frames as the socket thread serves them, floods and a hang-up.
#include <gtest/gtest.h>

#include <poll.h>
#include <unistd.h>

#include <random>
#include <thread>

#include <nlohmann/json.hpp>

#include "control/multiport_input.h"
#include "hw/hardware.h"
#include "motion/camera_module.h"
#include "motion/multi_port.h"
#include "sim/app/virtual_camera.h"
#include "support/log_capture.h"
#include "support/quiet_settings.h"
#include "support/wait_for.h"

using namespace std::chrono_literals;

namespace {
sim::SimSettings adapterSettings(bool adapter) {
    sim::SimSettings s = quietSettings("none");
    s.servo.present = false;
    s.multiport = adapter;
    return s;
}

struct Adapter {
    bool probe() {
        testing::internal::CaptureStdout();
        const bool found = port.probe();
        printed = testing::internal::GetCapturedStdout();
        return found;
    }
    bool received(const std::string& frame) {
        return waitFor([&] {
            const auto f = camera.multiPort()->frames();
            return std::find(f.begin(), f.end(), frame) != f.end();
        });
    }
    sim::VirtualCamera camera{adapterSettings(true)};
    MultiPort port;
    std::string printed;
};
}  // namespace

TEST(MultiPortProbe, FindsTheAdapterAtItsSpeedAndAnswersCountByTheirFirstSevenCharacters) {
    Adapter a;
    EXPECT_TRUE(a.probe());
    EXPECT_NE(a.printed.find("...Ok.\nMultiPort Mode Enable (LANC Disable).\n"), std::string::npos);
    EXPECT_EQ(a.camera.root().ttyS1().baud(), MultiPort::kProbeBaud);
    EXPECT_TRUE(a.received("#tulmo*"));
    uint8_t buf[16];
    ASSERT_EQ(a.port.readTimed(buf, 5), 5);  // its detection frame follows the ping's answer
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 5), "%000*");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(a.port.readOnce(buf, sizeof buf), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(a.port.read_timeout_ms));

    // Without the adapter the test answers the ping on the line.
    sim::VirtualCamera camera(adapterSettings(false));
    EXPECT_EQ(camera.api().state()["multiport"]["present"], false);
    const int master = camera.root().ttyS1().master();
    const struct { const char* answer; bool found; } cases[] = {
        {"$tulmo*%000*", true}, {"$tulmo", false}, {"#tulmo*", false}, {"", false}};
    for (const auto& c : cases) {
        std::thread responder([&] {
            std::string got;
            char chunk[64];
            for (pollfd in{master, POLLIN, 0}; got.find('*') == std::string::npos && poll(&in, 1, 1000) > 0;) {
                const ssize_t n = ::read(master, chunk, sizeof chunk);
                if (n > 0) got.append(chunk, static_cast<size_t>(n));
            }
            EXPECT_EQ(got, "#tulmo*");
            EXPECT_EQ(::write(master, c.answer, strlen(c.answer)), static_cast<ssize_t>(strlen(c.answer)));
        });
        MultiPort port;
        testing::internal::CaptureStdout();
        EXPECT_EQ(port.probe(), c.found) << c.answer;
        EXPECT_NE(testing::internal::GetCapturedStdout().find(c.found ? "...Ok." : "...Failed."), std::string::npos);
        responder.join();
    }
    // Open knows no 230400 but setBaud does.
    MultiPort port;
    ASSERT_EQ(port.open(230400, MultiPort::kPort), 1);
    EXPECT_EQ(camera.root().ttyS1().baud(), 115200);
    EXPECT_EQ(port.setBaud(230400), 1);
    EXPECT_EQ(port.open(0, nullptr), 0);
    EXPECT_EQ(port.descriptor(), -1);
    EXPECT_EQ(port.setBaud(9600), -1);
}

TEST(MultiPortKeys, KeyFramesOfTheCameraOperations) {
    Adapter a;
    ASSERT_TRUE(a.probe());
    auto hw = std::make_shared<hardware>(a.camera.platform());
    std::atomic<int8_t> mode{1};
    std::atomic<uint8_t> flags{0};
    CameraModule module(hw, mode, flags, a.port);
    std::atomic<int32_t> power{1};
    const struct { std::function<void()> call; std::vector<std::string> sent; } cases[] = {
        {[&] { module.lancZoomDrive(-3, 1, 0); }, {"#7530*"}}, {[&] { module.lancZoomDrive(-2, 1, 0); }, {"#7520*"}},
        {[&] { module.lancZoomDrive(5, 1, 0); }, {"#7450*"}}, {[&] { module.lancZoomDrive(0, 1, 0); }, {"#7590*"}},
        {[&] { module.cameraRecordKey(); }, {"#7100*", "#7110*"}},
        {[&] { module.cameraKeyB4(); }, {"#7000*", "#7010*"}}, {[&] { module.cameraRecord(); }, {"#7300*", "#7310*"}},
        {[&] { module.focusMode(0); }, {"#7200*", "#7210*"}},
        {[&] { module.cameraPowerSet(power); }, {"#7P00*", "#7P10*"}},
    };
    for (const auto& c : cases) {
        c.call();
        ASSERT_TRUE(a.received(c.sent.back())) << c.sent.back();
        const auto f = a.camera.multiPort()->frames();
        EXPECT_EQ(std::vector<std::string>(f.end() - static_cast<long>(c.sent.size()), f.end()), c.sent);
    }
    EXPECT_EQ(power.load(), 0);
    EXPECT_EQ(a.camera.cameraModule().view().lanc, 0u);  // nothing went over LANC
    EXPECT_EQ(a.camera.api().state()["multiport"]["keys"].back(), "#7P10*");
}

TEST(MultiPortInput, QueriesAnsweredStatusLoggedFloodsServedInBoundedTimeAndAHangUpClosesThePort) {
    Adapter a;
    ASSERT_TRUE(a.probe());
    MultiPortInput input(a.port);
    LogCapture log(5);
    const struct { std::string in; std::string logged; } cases[] = {
        {"%712", "MultiPort:: Reply\n"}, {"$74300*", "MultiPort:: Zoom Tele 3\n"},
        {"$75800*", "MultiPort:: Zoom Wide 8\n"}, {"$75900*", "MultiPort:: Zoom Stop\n"},
        {"$71000*", "MultiPort:: Start/Stop Recording\n"}, {"$71100*", "MultiPort:: Finish Start/Stop Recording\n"},
        {"$74900*", ""}, {"$7430", ""},
    };
    for (const auto& c : cases) {
        const size_t before = log.text().size();
        input.handle({reinterpret_cast<const uint8_t*>(c.in.data()), c.in.size()});
        EXPECT_EQ(log.text().substr(before), c.logged) << c.in;
    }
    EXPECT_TRUE(a.received("&71200*"));

    std::mt19937 random(7);
    std::string flood(20000, '\0');
    for (char& c : flood) c = "%$&#7*0159"[random() % 10];
    const int master = a.camera.root().ttyS1().master();
    a.camera.multiPort()->shutdown();  // the test is the adapter now
    const auto start = std::chrono::steady_clock::now();
    size_t written = 0;
    while (written < flood.size() && std::chrono::steady_clock::now() - start < 10s) {
        const ssize_t n = ::write(master, flood.data() + written, std::min<size_t>(512, flood.size() - written));
        if (n > 0) written += static_cast<size_t>(n);
        testing::internal::CaptureStdout();
        input.serve();
        testing::internal::GetCapturedStdout();
    }
    EXPECT_EQ(written, flood.size());
    ASSERT_GE(a.port.descriptor(), 0);

    // A hang-up is logged once and closes the port.
    LogCapture lost(2);
    a.camera.multiPort()->hangUp();
    input.serve();
    input.serve();
    EXPECT_EQ(lost.text(), "MultiPort:: adapter lost\n");
    EXPECT_EQ(a.port.descriptor(), -1);
    EXPECT_EQ(a.port.sendKey('5', '9'), 1);  // keys to a lost adapter go nowhere
}
