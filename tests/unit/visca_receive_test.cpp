// What each datagram on the VISCA and bridge ports is answered with, byte for byte.
#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "control/visca_framing.h"
#include "control/visca_inquiry_kind.h"
#include "control/visca_receiver.h"
#include "support/fake_visca_target.h"
#include "support/hex_bytes.h"
#include "support/log_capture.h"

namespace {
using Bytes = std::vector<uint8_t>;

struct Sink {
    std::vector<Bytes> sent;
    ViscaReceiver::Send send() {
        return [this](std::span<const uint8_t> d) { sent.emplace_back(d.begin(), d.end()); };
    }
};

Bytes datagram(uint16_t type, uint32_t sequence, const Bytes& payload) { return visca::frame(type, sequence, payload); }

const Bytes kLeftAtZero{0x81, 0x01, 0x06, 0x01, 0x00, 0x00, 0x01, 0x03, 0xFF};
const Bytes kAck = hexBytes("01 11 00 03 00 00 00 2A 90 41 FF");
const Bytes kCompletion = hexBytes("01 11 00 03 00 00 00 2A 90 51 FF");
const Bytes kSyntaxError = hexBytes("01 11 00 04 00 00 00 2A 90 60 02 FF");

Bytes controlReply(uint32_t sequence) {
    const auto reply = visca::controlReply(sequence);
    return Bytes(reply.begin(), reply.end());
}

class Receive : public ::testing::Test {
protected:
    std::vector<Bytes> network(const Bytes& d) {
        Sink sink;
        receiver.fromNetwork(d, sink.send());
        return sink.sent;
    }
    FakeViscaTarget target;
    ViscaReceiver receiver{target};
};
}  // namespace

// A command is acknowledged, then completed or answered with a syntax error; the sequence is echoed.
TEST_F(Receive, CommandsGetAckThenCompletionOrSyntaxError) {
    const struct {
        Bytes payload;
        int limitState;
        const char* printed;
        std::vector<Bytes> replies;
        int32_t queued;  // -1: nothing
    } cases[] = {
        {kLeftAtZero, 1, "", {kAck, kCompletion}, VISCA_PTZ_STOP},
        {hexBytes("81 01 06 01 19 10 01 03 FF"), 1, "VISCA parser flag unknown\n", {kAck, kSyntaxError}, -1},
        // An absolute position before the limits are homed.
        {hexBytes("81 01 06 02 05 05 00 00 00 01 00 00 00 01 FF"), -1, "VISCA parser Error Syntax\n",
         {kAck, kSyntaxError}, -1},
        {hexBytes("81 05 FF"), 1, "Packet Process UNKNOWN\n", {kSyntaxError}, -1},
    };
    for (const auto& c : cases) {
        FakeViscaTarget head;
        head.limit_state = c.limitState;
        ViscaReceiver headReceiver(head);
        Sink sink;
        testing::internal::CaptureStdout();
        headReceiver.fromNetwork(datagram(visca::kTypeCommand, 0x2A, c.payload), sink.send());
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.printed);
        EXPECT_EQ(sink.sent, c.replies) << c.printed;
        ASSERT_EQ(head.commands().size(), c.queued < 0 ? 0u : 1u) << c.printed;
        if (c.queued >= 0) {
            EXPECT_EQ(head.commands()[0].code, c.queued);
        }
    }
}

TEST_F(Receive, InquiriesGetTheErrorReplyUntilAnAnswerIsProvided) {
    const Bytes position = datagram(visca::kTypeInquiry, 0x2A, {0x81, 0x09, 0x06, 0x12, 0xFF});
    testing::internal::CaptureStdout();
    EXPECT_EQ(network(position), (std::vector<Bytes>{kSyntaxError}));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "VISCA INQUIRY parser flag unknown\n");

    receiver.viscaParser().setInquiryAnswer([](int kind, int source) {
        return kind == INQUIRY_CAM_VersionInq && source == 1 ? visca::Bytes{0x50, 0x0E, 0xFF} : visca::Bytes{};
    });
    const Bytes version = datagram(visca::kTypeInquiry, 0x2A, {0x81, 0x09, 0x00, 0x02, 0xFF});
    EXPECT_EQ(network(version),
              (std::vector<Bytes>{{0x01, 0x11, 0x00, 0x04, 0x00, 0x00, 0x00, 0x2A, 0x90, 0x50, 0x0E, 0xFF}}));
    testing::internal::CaptureStdout();
    EXPECT_EQ(network(position), (std::vector<Bytes>{kSyntaxError}));
    testing::internal::GetCapturedStdout();
    EXPECT_TRUE(target.commands().empty());
}

TEST_F(Receive, ControlCommandsAndMalformedDatagramsGetControlReplies) {
    EXPECT_EQ(network(datagram(visca::kTypeControlCommand, 0x1234, {0x01})), (std::vector<Bytes>{controlReply(0)}));
    LogCapture log(5);
    Bytes unterminated = datagram(visca::kTypeCommand, 7, kLeftAtZero);
    unterminated.back() = 0xFE;
    EXPECT_EQ(network(unterminated), (std::vector<Bytes>{controlReply(7)}));
    EXPECT_EQ(network(datagram(visca::kTypeCommand, 8, {0x82, 0x01, 0x06, 0x04, 0xFF})),
              (std::vector<Bytes>{controlReply(8)}));
    EXPECT_EQ(log.text(), "ctrl_fd sequency Err\nctrl_fd sequency Err\n");
    EXPECT_TRUE(target.commands().empty());
}

// Its answers never return to the bridge port, so the bridge serves reply types like any other; it
// answers with its own prefix, sends control replies to the sender and drops what is not its own.
TEST_F(Receive, BridgeAnswersWithItsPrefixAndDropsWhatIsNotItsOwn) {
    Sink bridge, control;
    LogCapture log(5);
    receiver.fromBridge(datagram(visca::kTypeCommand, 1, hexBytes("82 01 06 04 FF")), bridge.send(), control.send());
    EXPECT_EQ(bridge.sent, (std::vector<Bytes>{hexBytes("01 11 00 03 00 00 00 01 A0 41 FF"),
                                               hexBytes("01 11 00 03 00 00 00 01 A0 51 FF")}));
    EXPECT_TRUE(control.sent.empty());
    EXPECT_EQ(log.text(), "Web Comm : 0x01 0x00 0x00 0x05 0x00 0x00 0x00 0x01 0x82 0x01 0x06 0x04 0xff \n");
    receiver.fromBridge(datagram(visca::kTypeReply, 9, hexBytes("82 01 06 04 FF")), bridge.send(), control.send());
    EXPECT_EQ(bridge.sent.size(), 4u);
    ASSERT_EQ(target.commands().size(), 2u);
    bridge.sent.clear();
    receiver.fromBridge(controlReply(5), bridge.send(), control.send());
    receiver.fromBridge(datagram(visca::kTypeControlCommand, 77, {0x01}), bridge.send(), control.send());
    EXPECT_EQ(control.sent, (std::vector<Bytes>{controlReply(0), controlReply(0)}));
    control.sent.clear();
    for (const Bytes& dropped : {datagram(visca::kTypeCommand, 1, hexBytes("81 01 06 04 FF")),
                                 datagram(0x0300, 1, hexBytes("82 01 06 04 FF")),
                                 datagram(visca::kTypeCommand, 1, hexBytes("82 01 06 04 FE")), Bytes(8, 0x01)}) {
        receiver.fromBridge(dropped, bridge.send(), control.send());
    }
    EXPECT_TRUE(bridge.sent.empty());
    EXPECT_TRUE(control.sent.empty());
}

TEST(ViscaParser, PayloadWithoutAnAddressIsDroppedWithAMessage) {
    FakeViscaTarget target;
    ViscaParser parser(target);
    Sink sink;
    testing::internal::CaptureStdout();
    parser.parse(datagram(visca::kTypeCommand, 1, {0x7F, 0x01, 0x06, 0x04, 0xFF}), 1, sink.send());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "#2 Packet Process UNKNOWN\n");
    EXPECT_TRUE(sink.sent.empty());
}

// Every length and payload type: an exact answer or none, never a crash.
TEST_F(Receive, SweepOfLengthsAndPayloadTypesKeepsTheRules) {
    testing::internal::CaptureStdout();
    auto check = [&](const Bytes& d) {
        const auto replies = network(d);
        const uint16_t type = d.size() >= 2 ? static_cast<uint16_t>(d[0] << 8 | d[1]) : 0;
        if (d.size() < 9 || type == visca::kTypeReply || type == visca::kTypeControlReply) {
            EXPECT_TRUE(replies.empty()) << d.size();
        } else if (d[0] == 0x02) {
            EXPECT_EQ(replies, (std::vector<Bytes>{controlReply(0)}));
        } else if (d[0] == 0x01 && (d[1] == 0x00 || d[1] == 0x10) && d[8] == 0x81 && d.back() == 0xFF) {
            ASSERT_FALSE(replies.empty());
            ASSERT_LE(replies.size(), 2u);
            for (const auto& r : replies) {
                EXPECT_EQ(std::make_tuple(r[0], r[1], r[8], r.back()), std::make_tuple(0x01, 0x11, 0x90, 0xFF));
                EXPECT_TRUE(std::equal(r.begin() + 4, r.begin() + 8, d.begin() + 4));
            }
        } else {
            EXPECT_EQ(replies, (std::vector<Bytes>{controlReply(visca::sequenceNumber(d))}));
        }
    };
    for (size_t length = 0; length <= visca::kMaxDatagram; ++length) {
        for (const uint8_t fill : {0x00, 0x81, 0xFF}) {
            Bytes d(length, fill);
            if (length >= 9) {
                d[0] = 0x01;
                d[1] = length % 2 ? 0x00 : 0x10;
                d[8] = 0x81;
            }
            check(d);
        }
    }
    for (int first = 0; first < 256; ++first) {
        for (int second = 0; second < 256; ++second) {
            Bytes d = datagram(static_cast<uint16_t>(first << 8 | second), 0x11223344, kLeftAtZero);
            check(d);
        }
    }
    testing::internal::GetCapturedStdout();
    for (const auto& command : target.commands()) EXPECT_TRUE(command.code == 0 || command.code == VISCA_PTZ_STOP);
}
