// The soak: the virtual camera in a network namespace of its own, driven for minutes (PTZCAM_SOAK_SECONDS,
// default 120) by a seeded, rate-bounded mix of VISCA commands and inquiries from a peer namespace, NDI
// metadata and tally, console words, input format changes, a silent zoom servo and a hung HDMI receiver.
// Afterwards every datagram has its answers, resident memory stayed flat after the warm-up, the camera
// still serves, and "exit" ends it within a second with status 0.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <random>
#include <thread>

#include "control/visca_framing.h"
#include "support/camera_state.h"
#include "support/http_post.h"
#include "support/root_only.h"

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

namespace {
constexpr int kHttpPort = 8090;  // nothing else listens inside the camera's namespace
constexpr auto kPace = 10ms;     // one VISCA datagram per pace: 100 a second at most

// What came back for one request, by reply kind.
struct Account { bool inquiry = false; int acks = 0, finals = 0; };

class Soak {
public:
    Soak(NetnsPair& pair, ChildProcess& camera, uint32_t seed)
        : pair(pair), camera(camera), random(seed), controller(NetnsPair::udpEndpoint(pair.controller, visca::kViscaPort, INADDR_ANY)) {}

    void sendRandomDatagram() {
        const bool inquiry = pick(4) == 0;
        const Bytes payload = inquiry ? randomInquiry() : randomCommand();
        accounts[++sequence].inquiry = inquiry;
        controller->sendTo(visca::kViscaPort,
                           visca::frame(inquiry ? visca::kTypeInquiry : visca::kTypeCommand, sequence, payload),
                           pair.cameraIp);
    }
    // Everything that has arrived by now, or within `quiet` of the last reply.
    void takeReplies(std::chrono::milliseconds quiet) {
        while (auto reply = controller->receive(quiet)) {
            ASSERT_GE(reply->size(), 11u);
            const uint32_t seq = uint32_t{(*reply)[4]} << 24 | uint32_t{(*reply)[5]} << 16 |
                                 uint32_t{(*reply)[6]} << 8 | (*reply)[7];
            ASSERT_TRUE(accounts.count(seq)) << "a reply to nothing sent: " << seq;
            ((*reply)[9] >> 4 == 4 ? accounts[seq].acks : accounts[seq].finals)++;
        }
    }
    // A command has one ACK and one Completion or error; an inquiry one answer or error.
    int unaccounted() const {
        int wrong = 0;
        for (const auto& [seq, a] : accounts)
            if ((a.finals != 1 || a.acks != (a.inquiry ? 0 : 1)) && ++wrong <= 5)
                std::printf("seq %u inquiry %d acks %d finals %d\n", seq, a.inquiry, a.acks, a.finals);
        return wrong;
    }
    size_t sent() const { return accounts.size(); }
    // Every input format has been through the pipeline once by the end of the warm-up, which
    // ends on the last one, the format the run ends with: memory depends on the format.
    static constexpr int kInputPeriod = 600;
    static constexpr int kWarmUpTicks = kInputPeriod * 5 - 10;

    void otherFrontEndOrFault(int tick) {
        if (tick % 50 == 0) post("/ndi/metadata", randomMetadata());
        if (tick % 70 == 0) post(pick(2) ? "/ndi/tally?program=1&preview=0" : "/ndi/tally?program=0&preview=1", "");
        if (tick % 90 == 0) camera.write(kConsoleWords[pick(std::size(kConsoleWords))] + std::string("\n"));
        if (tick % kInputPeriod == 0) post("/input", kInputs[(tick / kInputPeriod) % std::size(kInputs)]);
        if (tick % 800 == 0) post("/servo", "silent");
        if (tick % 800 == 300) post("/servo", "answer");
        if (tick % 1000 == 500) post("/hdmi", "fail");
        if (tick % 1000 == 800) post("/hdmi", "answer");
    }

    void post(const std::string& path, const std::string& body) {
        NetnsPair::inside(pair.camera, [&] { EXPECT_EQ(httpPost(kHttpPort, path, body).status, 200) << path; });
    }

private:
    static constexpr const char* kConsoleWords[] = {"video_in", "audio_in", "ptz pos", "ptz ramp", "tally on",
                                                    "sv get", "ptz stop", "audio_out", "nonsense words"};
    static constexpr const char* kInputs[] = {"720p60", "1080i50", "none", "1080p25", "1080p59.94"};

    int pick(size_t n) { return static_cast<int>(random() % n); }
    uint8_t nibble() { return static_cast<uint8_t>(pick(16)); }

    Bytes randomCommand() {
        switch (pick(9)) {
            case 0: return {0x81, 0x01, 0x06, 0x01, uint8_t(1 + pick(0x18)), uint8_t(1 + pick(0x14)),
                            uint8_t(1 + pick(3)), uint8_t(1 + pick(3)), 0xFF};
            case 1: return {0x81, 0x01, 0x06, 0x02, uint8_t(1 + pick(0x18)), uint8_t(1 + pick(0x14)), 0,
                            0, nibble(), nibble(), 0, 0, nibble(), nibble(), 0xFF};
            case 2: return {0x81, 0x01, 0x06, 0x04, 0xFF};
            case 3: return {0x81, 0x01, 0x04, 0x07, uint8_t(pick(2) ? 0x20 + pick(8) : 0x30 + pick(8)), 0xFF};
            case 4: return {0x81, 0x01, 0x04, 0x47, 0, nibble(), nibble(), nibble(), 0xFF};
            case 5: return {0x81, 0x01, 0x04, 0x3F, uint8_t(pick(3)), uint8_t(pick(10)), 0xFF};
            case 6: return {0x81, 0x01, 0x04, 0x07, 0x00, 0xFF};
            case 7: return {0x81, 0x01, 0x04, 0x38, uint8_t(2 + pick(2)), 0xFF};
            default: {  // a command, whatever follows
                Bytes junk(3 + pick(12));
                for (auto& b : junk) b = static_cast<uint8_t>(random());
                junk[0] = 0x81, junk[1] = 0x01, junk.back() = 0xFF;
                return junk;
            }
        }
    }

    Bytes randomInquiry() {
        static const Bytes kinds[] = {{0x06, 0x12}, {0x04, 0x47}, {0x04, 0x00}, {0x04, 0x38}, {0x06, 0x23},
                                      {0x04, 0x39}, {0x7E, 0x7E}, {0x04, 0x4B}};
        const Bytes& k = kinds[pick(std::size(kinds))];
        return {0x81, 0x09, k[0], k[1], 0xFF};
    }

    std::string randomMetadata() {
        char text[160];
        switch (pick(5)) {
            case 0: std::snprintf(text, sizeof text, "<ntk_ptz_pan_tilt_speed pan_speed=\"%.2f\" tilt_speed=\"%.2f\"/>",
                                  pick(200) / 100.0 - 1, pick(200) / 100.0 - 1); return text;
            case 1: std::snprintf(text, sizeof text, "<ntk_ptz_zoom zoom=\"%.2f\"/>", pick(100) / 100.0); return text;
            case 2: std::snprintf(text, sizeof text, "<ntk_ptz_recall_preset index=\"%d\"/>", pick(12)); return text;
            case 3: return "<ntk_ptz_pan_tilt_speed pan_speed=\"0\" tilt_speed=\"0\"/>";
            default: return "<ntk_ptz_zoom_speed zoom_speed=\"0\"";  // not well-formed
        }
    }

    NetnsPair& pair;
    ChildProcess& camera;
    std::mt19937 random;
    std::unique_ptr<UdpEndpoint> controller;
    std::map<uint32_t, Account> accounts;
    uint32_t sequence = 0;
};

// Anonymous resident memory of a process, in KiB: the heap and the stacks, not the mapped files.
long residentAnonymousKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.starts_with("RssAnon:")) return std::stol(line.substr(8));
    return -1;
}

// Frame-sized buffers come and go by some MiB from one moment to the next; a leak raises the
// floor, so memory is compared as the lowest of many samples.
void lowerFloor(long& floor, pid_t pid) {
    const long now = residentAnonymousKiB(pid);
    if (now > 0 && (floor < 0 || now < floor)) floor = now;
}
constexpr int kFloorTicks = 200;
}  // namespace

TEST(SoakAsRoot, EveryFrontEndAndFaultThenACleanExit) {
    SKIP_UNLESS_ROOT("network namespaces");
    const char* given = std::getenv("PTZCAM_SOAK_SECONDS");
    const auto duration = std::chrono::seconds(given ? std::atoi(given) : 120);
    NetnsPair pair;
    ASSERT_TRUE(pair.ready()) << pair.error;
    const ScratchRoot root;
    ChildProcess camera(NetnsPair::kIp,
                        {"netns", "exec", pair.camera, "/usr/bin/setpriv", "--pdeathsig", "KILL", "--",
                         PTZCAM_SIM_BINARY},
                        {{"PTZCAM_ROOT", root.path}, {"PTZSIM_SPEED", "10"}, {"PTZSIM_HTTP", std::to_string(kHttpPort)},
                         {"PTZSIM_INPUT", "1080p59.94"}, {"PTZCAM_IFACE", ""}});
    ASSERT_TRUE(waitFor([&] {
        const nlohmann::json s = cameraState(kHttpPort, pair.camera);
        return s.contains("ptz") && s["ptz"].value("limit_state", 0) == 1;
    }, 60s, 50ms)) << "the camera never homed";

    Soak soak(pair, camera, 20261207);
    const auto start = Clock::now();
    long warmedKiB = -1;
    for (int tick = 0; Clock::now() - start < duration; ++tick) {
        soak.sendRandomDatagram();
        soak.otherFrontEndOrFault(tick);
        soak.takeReplies(0ms);
        camera.discardOutput();
        if (tick > Soak::kWarmUpTicks - kFloorTicks && tick <= Soak::kWarmUpTicks) lowerFloor(warmedKiB, camera.processId());
        std::this_thread::sleep_for(kPace);
    }
    for (const auto& [path, body] : {std::pair{"/servo", "answer"}, {"/hdmi", "answer"}, {"/input", "1080p59.94"}})
        soak.post(path, body);
    soak.takeReplies(2000ms);  // the queue drains meanwhile
    camera.discardOutput();
    long endKiB = -1;
    for (int i = 0; i < kFloorTicks; ++i, std::this_thread::sleep_for(kPace)) lowerFloor(endKiB, camera.processId());
    EXPECT_EQ(soak.unaccounted(), 0) << "of " << soak.sent() << " datagrams";
    ASSERT_GT(warmedKiB, 0) << "the run ended inside the warm-up";
    EXPECT_LT(endKiB - warmedKiB, 1024) << "KiB after the warm-up: " << warmedKiB << " -> " << endKiB;
    std::printf("soak: %zu datagrams in %lld s, anonymous memory %ld -> %ld KiB\n", soak.sent(),
                static_cast<long long>(duration.count()), warmedKiB, endKiB);
    // Still serving: the stream runs on and the queue takes a move.
    auto fullFrames = [&] { return cameraState(kHttpPort, pair.camera)["ndi"]["video_frames"]["full"].get<long long>(); };
    const long long frames = fullFrames();
    EXPECT_TRUE(waitFor([&] { return fullFrames() > frames; }, 5s));

    const auto exitAt = Clock::now();
    camera.write("exit\n");
    const ProcessResult result = camera.wait(10s);
    const auto exitTime = Clock::now() - exitAt;
    EXPECT_EQ(result.status, 0) << result.err.substr(result.err.size() > 2000 ? result.err.size() - 2000 : 0);
    EXPECT_LT(exitTime, 1s) << std::chrono::duration_cast<std::chrono::milliseconds>(exitTime).count() << " ms";
}
