// VISCA datagrams and their answers byte for byte, inquiry answers, the socket thread's serial input,
// the discovery reply's edges. The end-to-end suites run the real sockets: the bridge, discovery, the position.
#include <gtest/gtest.h>

#include <unistd.h>

#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "control/discovery_reply.h"
#include "control/signal_codes.h"
#include "control/visca_framing.h"
#include "control/visca_inquiries.h"
#include "control/visca_inquiry_kind.h"
#include "control/visca_receiver.h"
#include "control/visca_socket_thread.h"
#include "support/fake_visca_target.h"
#include "support/free_port.h"
#include "support/hex_bytes.h"
#include "support/log_capture.h"
#include "support/root_only.h"
#include "support/udp_endpoint.h"
#include "support/wait_for.h"

using namespace std::chrono_literals;

namespace {
using Bytes = std::vector<uint8_t>;
using Sent = std::vector<Bytes>;

struct Sink {
    Sent sent;
    ViscaReceiver::Send send() { return [this](std::span<const uint8_t> d) { sent.emplace_back(d.begin(), d.end()); }; }
};

Bytes datagram(uint16_t type, uint32_t seq, const char* hex) { return visca::frame(type, seq, hexBytes(hex)); }
Bytes command(uint32_t sequence, const char* payload) { return datagram(visca::kTypeCommand, sequence, payload); }
Bytes controlReply(uint32_t seq) { const auto r = visca::controlReply(seq); return Bytes(r.begin(), r.end()); }

struct FakeInquirySource : InquirySource {
    HeadLimits headLimits() override { return {}; }
    int32_t actualPosition(int) override { return 0; }
    bool zoomUnknown() override { return unknownZoom; }
    ZoomReading readZoom() override { return zoom; }
    ZoomSettings zoomSettings() override { return settings; }
    int cameraPowerGet() override { return power; }
    CameraWords cameraWords() override { return words; }
    SignalCodes querySignalCodes() override { return ++signalQueries, codes; }

    bool unknownZoom = false;
    ZoomReading zoom{};
    ZoomSettings settings{};
    int power = 2, signalQueries = 0;
    CameraWords words{};
    SignalCodes codes{};
};

// The answer payload (after the 8-byte header) to an inquiry payload from the network or the bridge.
class Inquiry : public ::testing::Test {
protected:
    Bytes ask(const Bytes& payload) {
        receiver.viscaParser().setInquiryAnswer([this](int kind, int) { return inquiries.answer(kind); });
        Sink sink;
        const Bytes datagram = visca::frame(visca::kTypeInquiry, 7, payload);
        testing::internal::CaptureStdout();
        if (payload[0] == 0x81) receiver.fromNetwork(datagram, sink.send());
        else receiver.fromBridge(datagram, sink.send(), sink.send());
        testing::internal::GetCapturedStdout();
        return sink.sent.size() == 1 ? Bytes(sink.sent[0].begin() + visca::kHeaderBytes, sink.sent[0].end()) : Bytes{};
    }
    Bytes ask(const char* payload) { return ask(hexBytes(payload)); }

    FakeViscaTarget target;
    FakeInquirySource state;
    ViscaInquiries inquiries{state};
    ViscaReceiver receiver{target};
};

const Bytes kError = hexBytes("90 60 02 FF");
}  // namespace

TEST_F(Inquiry, StateWordsAnswerTheirKinds) {
    state.words = {.focus_mode = 1, .exposure_mode = 1, .wb_mode = 0x103, .tally_on = 1, .pan_reverse = 1,
                   .tilt_reverse = 0, .max_speed_up = 1.3f};
    state.power = 3;
    const std::pair<const char*, const char*> cases[] = {
        {"81 09 04 00 FF", "90 50 02 FF"}, {"82 09 04 00 FF", "A0 50 03 FF"},
        {"81 09 00 02 FF", "90 50 0E 0E 11 20 00 01 01 FF"}, {"81 09 7E 01 0A FF", "90 50 02 FF"},
        {"81 09 7E 01 06 FF", "90 50 01 FF"}, {"81 09 7E 01 09 FF", "90 50 00 FF"}, {"81 09 06 31 FF", "90 50 03 FF"},
        {"81 09 04 35 FF", "90 50 03 FF"}, {"81 09 04 38 FF", "90 50 03 FF"}, {"81 09 04 39 FF", "90 50 00 FF"},
        {"81 19 04 50 FF", "90 50 02 00 03 02 03 03 03 00 00 03 FF"},
        {"81 09 7E 7E 01 FF", "90 50 00 00 00 00 03 00 00 00 00 00 00 00 00 FF"},
    };
    LogCapture log(5);
    for (const auto& [inquiry, answer] : cases) EXPECT_EQ(ask(inquiry), hexBytes(answer)) << inquiry;
    state.words = {};  // tally off, focus auto
    for (const auto& [inquiry, answer] : {std::pair{"81 09 7E 01 0A FF", "90 50 03 FF"}, {"81 09 04 38 FF", "90 50 02 FF"}})
        EXPECT_EQ(ask(inquiry), hexBytes(answer)) << inquiry;
    // The bridge's variant logs the same name as the network's.
    EXPECT_NE(log.text().find("INQUIRY_CAM_PowerInq\nWeb Comm : "), std::string::npos);
    EXPECT_NE(log.text().find("INQUIRY_CAM_PowerInq\nINQUIRY_CAM_VersionInq\n"), std::string::npos);
}

TEST_F(Inquiry, ZoomIsScaledToTheCalibratedRangeAndUnknownWhileUncalibrated) {
    state.zoom = {.raw = 1500, .min = 1000, .max = 3000, .width = 2000};
    EXPECT_EQ(ask("81 09 04 47 FF"), hexBytes("90 50 01 00 00 00 FF"));  // 4096
    state.words.focus_mode = 1;
    EXPECT_EQ(ask("81 09 7E 7E 00 FF"), hexBytes("90 50 01 00 00 00 00 00 00 00 00 00 00 03 00 FF"));
    state.zoom = {.raw = 3000, .min = 1000, .max = 3000, .width = 2000};
    EXPECT_EQ(ask("81 09 04 47 FF"), hexBytes("90 50 04 00 00 00 FF"));  // 16384
    state.zoom = {.raw = 65535, .min = 0, .max = 0, .width = 0};  // no servo, never calibrated
    EXPECT_EQ(ask("81 09 04 47 FF"), hexBytes("90 50 0F 0F 0F 0F FF"));
    state.unknownZoom = true;
    EXPECT_EQ(ask("81 09 04 47 FF"), kError);
}

TEST_F(Inquiry, BlockBecCarriesTheZoomSettingsAndFlags) {
    state.settings = {.width = 3976, .torque_limit = 450, .servo_flags = 1, .multiport_mode = 1, .reverse = 1};
    state.words.tilt_reverse = 1;
    // Width 3976 - 100 = 0x0F24, torque 450 = 0x01C2, flags 1 | 1 x 4, reverse 1 | 0x10.
    EXPECT_EQ(ask("81 29 04 50 FF"), hexBytes("90 50 00 0F 02 04 00 01 0C 02 05 11 10 00 00 00 00 00 00 00 00 FF"));
    state.settings = {};
    state.words = {.pan_reverse = 1};
    EXPECT_EQ(ask("81 29 04 50 FF"), hexBytes("90 50 00 00 00 00 00 00 00 00 00 20 10 00 00 00 00 00 00 00 00 FF"));
}

// Too short or too long: the error; cut before its FF: the control reply (01 after the header).
TEST_F(Inquiry, EveryWrongLengthOrEndIsAnsweredWithTheErrorOnly) {
    for (const char* text : {"81 09 06 12 FF", "81 09 7E 01 0A FF", "81 29 04 50 FF", "81 09 7E 7E 00 FF"}) {
        const Bytes form = hexBytes(text);
        for (size_t length = 2; length <= form.size() + 2; ++length) {
            Bytes wrong(form.begin(), form.begin() + static_cast<long>(std::min(length, form.size())));
            wrong.resize(length, 0xFF);
            if (wrong != form) {
                EXPECT_EQ(ask(wrong), wrong.back() == 0xFF ? kError : Bytes{0x01}) << length;
            }
        }
    }
    // Near misses of a kind: the block inquiry under another category, the position under another.
    for (const char* miss : {"81 09 04 50 FF", "81 19 06 12 FF", "81 09 06 12 00 FF"})
        EXPECT_EQ(ask(miss), kError) << miss;
    EXPECT_EQ(state.signalQueries, 0);
}

TEST_F(Inquiry, SignalInquiriesRefreshTheCodesAndLogThem) {
    state.codes = {0x21, 16};
    LogCapture log(5);
    EXPECT_EQ(ask("81 09 06 23 FF"), hexBytes("90 50 21 FF"));
    EXPECT_EQ(ask("81 09 06 24 FF"), hexBytes("90 50 10 FF"));
    EXPECT_EQ(state.signalQueries, 2);
    EXPECT_NE(log.text().find("hdmi vidState 21, audState 10\nINQUIRY_AudioSystemSETInq\n"), std::string::npos);
    for (const auto& [rate, code] : {std::pair{32000, 2}, {44100, 4}, {48000, 6}, {96000, 16}, {0, 0}, {88200, 0}})
        EXPECT_EQ(audioSystemCode(rate), code) << rate;
    // The camera scenario runs every input format; a frame height marked interlaced is none.
    EXPECT_EQ(videoSystemCode(1920, 1080, 1, 60), 0x36);
}

// A command is acknowledged, then completed or answered with a syntax error, the sequence echoed;
// an inquiry without an answer installed gets the error; a control command or one for another
// address gets the control reply.
TEST(Receive, NetworkDatagramsGetTheirRepliesAndPrintWhatFailed) {
    const Bytes ack = hexBytes("01 11 00 03 00 00 00 2A 90 41 FF");
    const Bytes error = hexBytes("01 11 00 04 00 00 00 2A 90 60 02 FF");
    const struct {
        Bytes datagram;
        int limitState;
        const char* printed;
        Sent replies;
        int32_t queued;  // -1: nothing
    } cases[] = {
        {command(0x2A, "81 01 06 01 00 00 01 03 FF"), 1, "", {ack, hexBytes("01 11 00 03 00 00 00 2A 90 51 FF")},
         VISCA_PTZ_STOP},
        {command(0x2A, "81 01 06 01 19 10 01 03 FF"), 1, "VISCA parser flag unknown\n", {ack, error}, -1},
        {command(0x2A, "81 01 06 02 05 05 00 00 00 01 00 00 00 01 FF"), -1, "VISCA parser Error Syntax\n",
         {ack, error}, -1},  // an absolute position before the limits are homed
        {command(0x2A, "81 05 FF"), 1, "Packet Process UNKNOWN\n", {error}, -1},
        {datagram(visca::kTypeInquiry, 0x2A, "81 09 00 02 FF"), 1, "VISCA INQUIRY parser flag unknown\n", {error}, -1},
        {datagram(visca::kTypeControlCommand, 0x1234, "01"), 1, "", {controlReply(0)}, -1},
        {command(7, "81 01 06 04 FE"), 1, "", {controlReply(7)}, -1},
        {command(8, "82 01 06 04 FF"), 1, "", {controlReply(8)}, -1},
        {Bytes(8, 0x01), 1, "", {}, -1},  // a header alone
        {datagram(visca::kTypeReply, 0x2A, "90 41 FF"), 1, "", {}, -1},  // never answered: no loop between cameras
    };
    for (const auto& c : cases) {
        FakeViscaTarget target;
        target.limit_state = c.limitState;
        Sink sink;
        testing::internal::CaptureStdout();
        ViscaReceiver(target).fromNetwork(c.datagram, sink.send());
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.printed);
        EXPECT_EQ(sink.sent, c.replies) << c.printed;
        ASSERT_EQ(target.commands().size(), c.queued < 0 ? 0u : 1u) << c.printed;
        if (c.queued >= 0) { EXPECT_EQ(target.commands()[0].code, c.queued); }
    }
    FakeViscaTarget target;
    LogCapture log(5);
    ViscaReceiver(target).fromNetwork(command(8, "82 01 06 04 FF"), Sink().send());
    EXPECT_EQ(log.text(), "ctrl_fd sequency Err\n");
}

// Its answers never return to the bridge port, so the bridge serves reply types like any other; it
// answers with its own prefix, sends control replies to the sender and drops what is not its own.
TEST(Receive, BridgeAnswersWithItsPrefixAndDropsWhatIsNotItsOwn) {
    FakeViscaTarget target;
    ViscaReceiver receiver(target);
    Sink bridge, control;
    LogCapture log(5);
    receiver.fromBridge(command(1, "82 01 06 04 FF"), bridge.send(), control.send());
    EXPECT_EQ(bridge.sent,
              (Sent{hexBytes("01 11 00 03 00 00 00 01 A0 41 FF"), hexBytes("01 11 00 03 00 00 00 01 A0 51 FF")}));
    EXPECT_EQ(log.text(), "Web Comm : 0x01 0x00 0x00 0x05 0x00 0x00 0x00 0x01 0x82 0x01 0x06 0x04 0xff \n");
    receiver.fromBridge(datagram(visca::kTypeReply, 9, "82 01 06 04 FF"), bridge.send(), control.send());
    EXPECT_EQ(bridge.sent.size(), 4u);
    EXPECT_EQ(target.commands().size(), 2u);
    receiver.fromBridge(controlReply(5), bridge.send(), control.send());
    receiver.fromBridge(datagram(visca::kTypeControlCommand, 77, "01"), bridge.send(), control.send());
    EXPECT_EQ(control.sent, (Sent{controlReply(0), controlReply(0)}));
    for (const Bytes& dropped : {command(1, "81 01 06 04 FF"), datagram(0x0300, 1, "82 01 06 04 FF"),
                                 command(1, "82 01 06 04 FE"), Bytes(8, 0x01)})
        receiver.fromBridge(dropped, bridge.send(), control.send());
    EXPECT_EQ(bridge.sent.size() + control.sent.size(), 6u);
}

// The serial input is watched only while in use, also once reopened above every socket (the select
// bound must follow it); stopping is bounded by the select period.
TEST(SocketThreadAsRoot, ServesTheSerialInputWhenItIsInUseAndStopsPromptly) {
    SKIP_UNLESS_ROOT("the thread binds to device lo");
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    std::atomic<int> served{0}, serial{pipeFds[0]};
    std::atomic<bool> inUse{false};
    FakeViscaTarget target;
    ViscaSocketThread thread(target, NetInfo{}, {freePort(), freePort(), freePort(), freePort(), freePort()}, "lo");
    thread.setSerialInput({[&] { return inUse.load() ? serial.load() : -1; },
                           [&] { char byte; served += read(serial.load(), &byte, 1) == 1; }});
    thread.start();
    ASSERT_EQ(write(pipeFds[1], "ab", 2), 2);
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(served.load(), 0) << "not in use";
    inUse = true;
    EXPECT_TRUE(waitFor([&] { return served.load() == 2; }));
    ASSERT_EQ(dup2(pipeFds[0], 900), 900);  // the adapter probed again
    serial = 900;
    ASSERT_EQ(write(pipeFds[1], "c", 1), 1);
    EXPECT_TRUE(waitFor([&] { return served.load() == 3; }));
    const auto before = std::chrono::steady_clock::now();
    thread.stop();
    EXPECT_LT(std::chrono::steady_clock::now() - before, 1s);
    for (const int fd : {900, pipeFds[0], pipeFds[1]}) close(fd);
}

// A busy port is logged once and retried until it is free; without the interface the loopback bridge
// still serves, and stop stays prompt.
TEST(SocketThreadAsRoot, ABusyPortIsRetriedAndAMissingInterfaceLeavesTheBridge) {
    SKIP_UNLESS_ROOT("the thread binds to device lo");
    FakeViscaTarget target;
    const ViscaPorts ports{freePort(), freePort(), freePort(), freePort(), freePort()};
    LogCapture log(2);
    auto squatter = std::make_unique<UdpEndpoint>(ports.bridge);
    ASSERT_TRUE(squatter->bound());
    {
        ViscaSocketThread busy(target, NetInfo{}, ports, "lo");
        busy.start();
        std::this_thread::sleep_for(1200ms);  // at least one more attempt
        EXPECT_FALSE(busy.socketsOpen());
        squatter.reset();
        EXPECT_TRUE(waitFor([&] { return busy.socketsOpen(); }));
    }
    EXPECT_EQ(log.text(), "Cannot bind LOOP UDP socket!\n");
    ViscaSocketThread missing(target, NetInfo{}, ports, "nosuchif9");
    missing.start();
    UdpEndpoint web(ports.bridgeReply), page(0);
    std::optional<Bytes> answer;
    for (int attempt = 0; attempt < 30 && !answer; ++attempt) {
        page.sendTo(ports.bridge, command(9, "82 01 06 05 FF"));
        answer = web.receive(100ms);
    }
    EXPECT_EQ(answer, hexBytes("01 11 00 03 00 00 00 09 A0 41 FF"));
    const auto before = std::chrono::steady_clock::now();
    missing.stop();
    EXPECT_LT(std::chrono::steady_clock::now() - before, 1s);
    EXPECT_NE(log.text().find("Fail to bind to eth0!\n"), std::string::npos) << log.text();
}

// Byte 0 is not read: 12 bytes is the shortest enquiry that gets the info reply; the name is cut to 8.
TEST(Discovery, ShortestEnquiryGetsTheInfoReplyWithTheNameCut) {
    const std::string enquiry = "xENQ:network";
    const Bytes reply = discoveryReply(NetInfo{}, Bytes(enquiry.begin(), enquiry.end()), "camerahost12");
    const std::string text(reply.begin(), reply.end());
    EXPECT_EQ(text.rfind("\x02MAC:", 0), 0u);
    EXPECT_NE(text.find("\xFFNAME:cameraho\xFFWRITE:on\xFF\x03"), std::string::npos) << text;
    EXPECT_EQ(discoveryReply(NetInfo{}, Bytes(enquiry.begin(), enquiry.end() - 1), "c")[1], 'N');
}
