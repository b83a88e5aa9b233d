// The NDI sender's edges: capabilities without an address or a socket, a failed creation, the held frames.
// The sender scenario checks the announcement, the names and the order of the life cycle.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <stdexcept>
#include <tuple>
#include <vector>

#include "media/network_send.h"
#include "support/log_capture.h"
#include "support/thrown_message.h"

namespace {
// A library that records what it is given, offered by a platform with nothing else.
struct RecordingNdi : platform::NdiLibrary, platform::Platform {
    bool createOk = true;
    std::vector<std::string> calls;
    const char* groups = "unset";
    std::vector<ndi::video_frame_v2> videos;
    std::function<void()> onSendDestroy;
    ndi::send_instance handle = reinterpret_cast<ndi::send_instance>(this);
    std::shared_ptr<RecordingNdi> self{this, [](RecordingNdi*) {}};  // the sender's share of this stack object

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
    void NDIlib_send_add_connection_metadata(ndi::send_instance, const ndi::metadata_frame*) override { calls.push_back("metadata"); }
    int NDIlib_send_get_target_frame_size(ndi::send_instance, const ndi::video_frame_v2*) override { return 0; }
    int NDIlib_send_get_q_factor(ndi::send_instance, const ndi::video_frame_v2*) override { return 0; }
    void NDIlib_send_send_video_async_v2(ndi::send_instance, const ndi::video_frame_v2* f) override { videos.push_back(*f); }
    void NDIlib_util_send_send_audio_interleaved_32s(ndi::send_instance, const ndi::audio_frame_interleaved_32s*) override {
        calls.push_back("audio");
    }
    ndi::frame_type NDIlib_send_capture(ndi::send_instance, ndi::metadata_frame*, uint32_t) override { return ndi::frame_type::none; }
    void NDIlib_send_free_metadata(ndi::send_instance, const ndi::metadata_frame*) override {}
    bool NDIlib_send_get_tally(ndi::send_instance, ndi::tally*, uint32_t) override { return false; }
    std::unique_ptr<platform::UioDevice> findUio(const std::string&) override { return nullptr; }
    std::unique_ptr<platform::DeviceFile> openDevice(const std::string&) override { return nullptr; }
    bool setRealtimePriority(int) override { return false; }
    std::shared_ptr<platform::NdiLibrary> ndiLibrary() override { return self; }
};

std::shared_ptr<compressed_video_frame> frame(int stream, int field, uint32_t bytes) {
    auto f = std::make_shared<compressed_video_frame>();
    f->stream = stream, f->field = field, f->rate_n = 30000, f->rate_d = 1001, f->timecode = 123456789012345;
    if (bytes > 0) f->data = std::make_unique<uint8_t[]>(bytes), f->size = bytes;
    return f;
}
}  // namespace

// No such interface, or a name longer than an interface's (cut, never overflowing): a defined address
// rather than whatever the request left behind.
TEST(CapabilitiesXml, UnknownOrOverlongInterfaceGivesTheNullAddressAndNoSocketNothing) {
    for (const char* iface : {"nosuchif0", "averyveryverylongname"}) {
        setenv("PTZCAM_IFACE", iface, 1);
        std::string xml;
        EXPECT_EQ(network_send::build_capabilities_xml(true, xml), 0);
        unsetenv("PTZCAM_IFACE");
        EXPECT_EQ(xml, "<ndi_capabilities ntk_ptz=\"true\" web_control=\"http://0.0.0.0\"/>") << iface;
    }
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

// Without capabilities nothing is announced; a failed creation shuts the library down, as no destructor runs.
TEST(NetworkSend, NoGroupsNoEmptyAnnouncementAndAFailedCreationShutsTheLibraryDown) {
    RecordingNdi lib;
    { network_send sender("{}", "", "PTZ", lib.self); }
    EXPECT_EQ(lib.calls, (std::vector<std::string>{"initialize", "create", "send_destroy", "destroy"}));
    EXPECT_EQ(lib.groups, nullptr);
    RecordingNdi failing;
    failing.createOk = false;
    EXPECT_EQ(thrownMessage<std::runtime_error>([&] { network_send sender("{}", "<caps/>", "PTZ", failing.self); }),
              "Cannot create NDI sender!");
    EXPECT_EQ(failing.calls, (std::vector<std::string>{"initialize", "create", "destroy"}));
}

TEST(NetworkSend, HoldsEachStreamsFrameUntilItsNextFrameOrTheSendersEnd) {
    RecordingNdi lib;
    std::weak_ptr<compressed_video_frame> firstFull, secondFull, lastPreview;
    bool aliveAtDestroy = false;
    lib.onSendDestroy = [&] { aliveAtDestroy = !secondFull.expired() && !lastPreview.expired(); };
    {
        network_send sender("{}", "<caps/>", "PTZ", lib.self);
        auto full = frame(0, 1, 100);
        firstFull = full;
        sender.send_video(std::move(full), 0);
        auto preview = frame(1, 2, 0);  // no buffer: no data, no size
        lastPreview = preview;
        sender.send_video(std::move(preview), 1);
        EXPECT_FALSE(firstFull.expired()) << "held after the caller let go, whatever the other stream sends";
        const auto& v = lib.videos.back();
        EXPECT_EQ(std::make_tuple(lib.videos[0].frame_format_type, v.frame_format_type, v.p_data, v.data_size_in_bytes),
                  std::make_tuple(ndi::frame_format::field_1, ndi::frame_format::progressive, nullptr, 0));
        auto next = frame(0, 2, 100);
        secondFull = next;
        sender.send_video(std::move(next), 0);
        EXPECT_TRUE(firstFull.expired()) << "released by the next frame of its stream";
        sender.send_video(frame(0, 2, 100), 2);  // no such stream
        sender.send_video(nullptr, 0);
        sender.send_audio(nullptr);
        EXPECT_EQ(lib.videos.size(), 3u);
        EXPECT_FALSE(secondFull.expired());
    }
    EXPECT_TRUE(aliveAtDestroy) << "the library may read the last frames until the sender is destroyed";
    EXPECT_TRUE(secondFull.expired() && lastPreview.expired());
    EXPECT_EQ(std::count(lib.calls.begin(), lib.calls.end(), "audio"), 0);
}
