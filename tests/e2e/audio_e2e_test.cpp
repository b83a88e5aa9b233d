// The virtual camera's audio seen from outside: created in its place by the entry, rates followed
// and reported, the latest frame on the HTTP API, stopped before the NDI sender; none with -x.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include <nlohmann/json.hpp>

#include "support/free_port.h"
#include "support/child_process.h"
#include "support/http_post.h"

using namespace std::chrono_literals;

namespace {
nlohmann::json state(int port) {
    const auto body = httpGet(port, "/state");
    return body.empty() ? nlohmann::json() : nlohmann::json::parse(body);
}

// Polls the state document until the condition holds; the last document either way.
template <class Condition>
nlohmann::json stateWhen(int port, Condition condition, std::chrono::milliseconds limit = 10000ms) {
    nlohmann::json s;
    for (auto end = std::chrono::steady_clock::now() + limit; std::chrono::steady_clock::now() < end;) {
        s = state(port);
        if (!s.is_null() && condition(s)) break;
        std::this_thread::sleep_for(50ms);
    }
    return s;
}

size_t at(const std::string& text, const char* what) { return text.find(what); }
}  // namespace

TEST(AudioE2e, EntrySendsTheInputAtItsRateAndStopsAudioBeforeTheSender) {
    const int port = freePort();
    ChildProcess sim(PTZCAM_SIM_BINARY, {"-X", "-p", "-p"},
                     {{"PTZCAM_ROOT", ""}, {"PTZSIM_HTTP", std::to_string(port)}, {"PTZSIM_AUDIO_RATE", "44100"}});
    auto s = stateWhen(port, [](const nlohmann::json& j) {
        return j["ndi"]["audio_frames"].get<uint64_t>() >= 5 && j["audio"].value("rate", 0) == 44100;
    });
    EXPECT_EQ(s["audio"]["rate"], 44100) << s.dump();
    EXPECT_EQ(s["ndi"]["audio"]["sample_rate"], 44100);
    EXPECT_EQ(s["audio"]["drops"], 0);

    EXPECT_EQ(httpPost(port, "/audio", "96000\n").status, 200);
    EXPECT_EQ(httpPost(port, "/audio", "22050").status, 400);
    s = stateWhen(port, [](const nlohmann::json& j) { return j["ndi"]["audio"]["sample_rate"] == 96000; });
    EXPECT_EQ(s["audio"]["input_rate"], 96000);
    EXPECT_EQ(s["ndi"]["audio"]["sample_rate"], 96000) << "the frames carry the new rate";

    const auto t0 = std::chrono::steady_clock::now();
    sim.write("exit\n");
    const auto r = sim.wait();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 3s);
    EXPECT_EQ(r.status, 0) << r.err;
    const std::string& log = r.err;
    ASSERT_NE(at(log, "audio_capture Constructor\n"), std::string::npos) << log;
    EXPECT_LT(at(log, "network_send Constructor\n"), at(log, "audio_capture Constructor\n"));
    EXPECT_LT(at(log, "audio_capture Destructor\n"), at(log, "audio_compress Destructor\n"));
    EXPECT_LT(at(log, "audio_compress Destructor\n"), at(log, "network_send Destructor\n"));
}

TEST(AudioE2e, OptionXLeavesAudioOut) {
    const int port = freePort();
    ChildProcess sim(PTZCAM_SIM_BINARY, {"-X", "-x", "-p", "-p"}, {{"PTZCAM_ROOT", ""}, {"PTZSIM_HTTP", std::to_string(port)}});
    stateWhen(port, [](const nlohmann::json& j) { return j["ndi"]["sender_live"] == true; });
    std::this_thread::sleep_for(200ms);  // a dozen buffers' time at 48 kHz
    const auto s = state(port);
    EXPECT_EQ(s["ndi"]["audio_frames"], 0);
    EXPECT_EQ(s["audio"]["buffers"], 0) << "nobody gave the block a buffer";
    EXPECT_FALSE(s["audio"].contains("rate"));
    sim.write("exit\n");
    const auto r = sim.wait();
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(at(r.err, "audio_capture Constructor"), std::string::npos);
}
