// The NDI sender: capabilities text, life cycle, descriptors and the held frame of each stream.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cstdlib>
#include <functional>
#include <tuple>
#include <stdexcept>
#include <vector>

#include "media/network_send.h"
#include "support/log_capture.h"
#include "support/thrown_message.h"

namespace {
// A library that records what it is given.
class RecordingNdi : public platform::NdiLibrary {
public:
    bool createOk = true;
    std::vector<std::string> calls;
    const char* groups = "unset";
    std::vector<ndi::video_frame_v2> videos;
    int audios = 0;  // the audio descriptor is checked by the audio pipeline scenario
    std::function<void()> onSendDestroy;
    ndi::send_instance handle = reinterpret_cast<ndi::send_instance>(this);

    bool NDIlib_initialize() override { return calls.push_back("initialize"), true; }
    void NDIlib_destroy() override { calls.push_back("destroy"); }
    ndi::send_instance NDIlib_send_create_v2(const ndi::send_create* c, const char*) override {
        calls.push_back("create");
        groups = c->p_groups;
        return createOk ? handle : nullptr;
    }
    void NDIlib_send_destroy(ndi::send_instance i) override {
        calls.push_back(i == handle ? "send_destroy" : "send_destroy?");
        if (onSendDestroy) onSendDestroy();
    }
    void NDIlib_send_add_connection_metadata(ndi::send_instance, const ndi::metadata_frame*) override {
        calls.push_back("metadata");
    }
    int NDIlib_send_get_target_frame_size(ndi::send_instance, const ndi::video_frame_v2*) override { return 0; }
    int NDIlib_send_get_q_factor(ndi::send_instance, const ndi::video_frame_v2*) override { return 0; }
    void NDIlib_send_send_video_async_v2(ndi::send_instance, const ndi::video_frame_v2* f) override { videos.push_back(*f); }
    void NDIlib_util_send_send_audio_interleaved_32s(ndi::send_instance,
                                                     const ndi::audio_frame_interleaved_32s*) override {
        ++audios;
    }
    ndi::frame_type NDIlib_send_capture(ndi::send_instance, ndi::metadata_frame*, uint32_t) override {
        return ndi::frame_type::none;
    }
    void NDIlib_send_free_metadata(ndi::send_instance, const ndi::metadata_frame*) override {}
    bool NDIlib_send_get_tally(ndi::send_instance, ndi::tally*, uint32_t) override { return false; }
};

// A platform offering only the recording library.
struct Fixture : platform::Platform {
    std::unique_ptr<platform::UioDevice> findUio(const std::string&) override { return nullptr; }
    std::unique_ptr<platform::DeviceFile> openDevice(const std::string&) override { return nullptr; }
    bool setRealtimePriority(int) override { return false; }
    std::shared_ptr<platform::NdiLibrary> ndiLibrary() override { return lib; }
    std::shared_ptr<RecordingNdi> lib = std::make_shared<RecordingNdi>();
    std::shared_ptr<Fixture> platform{this, [](Fixture*) {}};  // the sender's share of this stack object
};

std::shared_ptr<compressed_video_frame> frame(int stream, int field, uint32_t bytes) {
    auto f = std::make_shared<compressed_video_frame>();
    f->stream = stream, f->field = field, f->rate_n = 30000, f->rate_d = 1001, f->timecode = 123456789012345;
    f->width = stream == 0 ? 1920 : 640, f->height = stream == 0 ? 540 : 360;
    f->fourcc = stream == 0 ? ndi::fourcc_SHQ2 : ndi::fourcc_shq2;
    if (bytes > 0) f->data = std::make_unique<uint8_t[]>(bytes), f->size = bytes;
    return f;
}

std::string capabilitiesOn(const char* iface, bool ptz, int& status) {
    setenv("PTZCAM_IFACE", iface, 1);
    std::string xml;
    status = network_send::build_capabilities_xml(ptz, xml);
    unsetenv("PTZCAM_IFACE");
    return xml;
}
}  // namespace

// The text is logged from level four only.
TEST(CapabilitiesXml, CarriesPtzSupportAndTheInterfaceAddress) {
    const struct {
        const char* iface;
        bool ptz;
        int level;
        const char* expected;
    } cases[] = {
        {"lo", false, 4, "<ndi_capabilities ntk_ptz=\"false\" web_control=\"http://127.0.0.1\"/>"},
        // No such interface: a defined address rather than whatever the request left behind.
        {"nosuchif0", true, 3, "<ndi_capabilities ntk_ptz=\"true\" web_control=\"http://0.0.0.0\"/>"},
        // Longer than an interface name may be: cut, not overflowing.
        {"averyveryverylongname", true, 3, "<ndi_capabilities ntk_ptz=\"true\" web_control=\"http://0.0.0.0\"/>"},
    };
    for (const auto& c : cases) {
        int status = -1;
        LogCapture log(c.level);
        EXPECT_EQ(capabilitiesOn(c.iface, c.ptz, status), c.expected) << c.iface;
        EXPECT_EQ(status, 0);
        EXPECT_EQ(log.text(), c.level < 4 ? "" : c.expected + std::string("\n"));
    }
}

TEST(CapabilitiesXml, WithoutASocketNothingIsProduced) {
    LogCapture log(2);
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    const rlimit none{0, saved.rlim_max};  // no descriptor can be had
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &none), 0);
    std::string xml = "<stale/>";
    const int status = network_send::build_capabilities_xml(true, xml);
    setrlimit(RLIMIT_NOFILE, &saved);
    EXPECT_EQ(std::make_tuple(status, xml, log.text()), std::make_tuple(-1, "", "Cannot open UDP socket!\n"));
}

// Name, clocks, configuration, the announcement and its order in the log are checked by the sender
// scenario, the announcement's length and timecode by the runtime tests.
TEST(NetworkSend, AnnouncesCapabilitiesOnlyWhenGivenAndNamesNoGroups) {
    Fixture f;
    {
        network_send sender("{}", "<caps/>", "PTZ", f.platform);
        EXPECT_EQ(sender.handle(), f.lib->handle);
    }
    EXPECT_EQ(f.lib->calls, (std::vector<std::string>{"initialize", "create", "metadata", "send_destroy", "destroy"}));
    EXPECT_EQ(f.lib->groups, nullptr);
    Fixture without;
    { network_send sender("{}", "", "PTZ", without.platform); }
    EXPECT_EQ(without.lib->calls, (std::vector<std::string>{"initialize", "create", "send_destroy", "destroy"}));
}

// The library was initialised: it is shut down again, as no destructor will run.
TEST(NetworkSend, FailedCreationShutsTheLibraryDown) {
    Fixture f;
    f.lib->createOk = false;
    EXPECT_EQ(thrownMessage<std::runtime_error>([&] { network_send sender("{}", "<caps/>", "PTZ", f.platform); }),
              "Cannot create NDI sender!");
    EXPECT_EQ(f.lib->calls, (std::vector<std::string>{"initialize", "create", "destroy"}));
}

TEST(NetworkSend, VideoDescriptorFollowsTheFrame) {
    Fixture f;
    network_send sender("{}", "<caps/>", "PTZ", f.platform);
    const struct {
        int stream, field;
        uint32_t bytes;
        ndi::frame_format format;
    } cases[] = {
        {0, 1, 4000, ndi::frame_format::field_1},
        {1, 2, 0, ndi::frame_format::progressive},  // no buffer: no data, no size
    };
    for (const auto& c : cases) {
        auto fr = frame(c.stream, c.field, c.bytes);
        sender.send_video(fr, c.stream);
        const auto& v = f.lib->videos.back();
        EXPECT_EQ(std::make_tuple(v.xres, v.yres, v.FourCC, v.frame_rate_N, v.frame_rate_D, v.frame_format_type),
                  std::make_tuple(fr->width, fr->height, fr->fourcc, 30000, 1001, c.format));
        EXPECT_FLOAT_EQ(v.picture_aspect_ratio, 16.0f / 9.0f);
        EXPECT_EQ(std::make_tuple(v.timecode, v.timestamp, v.p_data, v.data_size_in_bytes, v.p_metadata),
                  std::make_tuple(123456789012345, 123456789012345, fr->data.get(), int(c.bytes), nullptr));
    }
    EXPECT_EQ(f.lib->videos.size(), 2u);
}

TEST(NetworkSend, HoldsEachStreamsFrameUntilItsNextFrame) {
    Fixture f;
    std::weak_ptr<compressed_video_frame> firstFull, secondFull, lastPreview;
    bool aliveAtDestroy = false;
    f.lib->onSendDestroy = [&] { aliveAtDestroy = !secondFull.expired() && !lastPreview.expired(); };
    {
        network_send sender("{}", "<caps/>", "PTZ", f.platform);
        auto full = frame(0, 2, 100);
        firstFull = full;
        sender.send_video(std::move(full), 0);
        EXPECT_FALSE(firstFull.expired()) << "held after the caller let go";

        auto preview = frame(1, 2, 50);
        lastPreview = preview;
        sender.send_video(std::move(preview), 1);
        EXPECT_FALSE(firstFull.expired()) << "the other stream leaves the full slot alone";

        auto next = frame(0, 2, 100);
        secondFull = next;
        sender.send_video(std::move(next), 0);
        EXPECT_TRUE(firstFull.expired()) << "released by the next frame of its stream";

        sender.send_video(frame(0, 2, 100), 2);  // no such stream
        sender.send_video(nullptr, 0);
        sender.send_audio(nullptr);
        EXPECT_EQ(std::make_tuple(f.lib->videos.size(), f.lib->audios), std::make_tuple(size_t{3}, 0));
        EXPECT_FALSE(secondFull.expired());
    }
    EXPECT_TRUE(aliveAtDestroy) << "the library may read the last frames until the sender is destroyed";
    EXPECT_TRUE(secondFull.expired());
    EXPECT_TRUE(lastPreview.expired());
}
