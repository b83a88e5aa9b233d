// The NDI sender's edges; the sender scenario checks the announcement, names, descriptors and life cycle.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <stdexcept>
#include <tuple>
#include <vector>

#include "control/net_info.h"
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
    std::shared_ptr<RecordingNdi> self{this, [](RecordingNdi*) {}};  // the sender's share of this stack object
    bool NDIlib_initialize() override { return calls.push_back("initialize"), true; }
    void NDIlib_destroy() override { calls.push_back("destroy"); }
    ndi::send_instance NDIlib_send_create_v2(const ndi::send_create* c, const char*) override {
        calls.push_back("create");
        groups = c->p_groups;
        return createOk ? reinterpret_cast<ndi::send_instance>(this) : nullptr;
    }
    void NDIlib_send_destroy(ndi::send_instance i) override {
        calls.push_back(i == reinterpret_cast<ndi::send_instance>(this) ? "send_destroy" : "send_destroy?");
        if (onSendDestroy) onSendDestroy();
    }
    void NDIlib_send_add_connection_metadata(ndi::send_instance, const ndi::metadata_frame*) override { calls.push_back("metadata"); }
    int NDIlib_send_get_target_frame_size(ndi::send_instance, const ndi::video_frame_v2*) override { return 0; }
    int NDIlib_send_get_q_factor(ndi::send_instance, const ndi::video_frame_v2*) override { return 0; }
    void NDIlib_send_send_video_async_v2(ndi::send_instance, const ndi::video_frame_v2* f) override { videos.push_back(*f); }
    void NDIlib_util_send_send_audio_interleaved_32s(ndi::send_instance, const ndi::audio_frame_interleaved_32s*) override { calls.push_back("audio"); }
    ndi::frame_type NDIlib_send_capture(ndi::send_instance, ndi::metadata_frame*, uint32_t) override { return ndi::frame_type::none; }
    void NDIlib_send_free_metadata(ndi::send_instance, const ndi::metadata_frame*) override {}
    bool NDIlib_send_get_tally(ndi::send_instance, ndi::tally*, uint32_t) override { return false; }
    std::unique_ptr<platform::UioDevice> findUio(const std::string&) override { return nullptr; }
    std::unique_ptr<platform::DeviceFile> openDevice(const std::string&) override { return nullptr; }
    bool setRealtimePriority(int) override { return false; }
    std::shared_ptr<platform::NdiLibrary> ndiLibrary() override { return self; }
};

std::shared_ptr<compressed_video_frame> frame(int field, uint32_t bytes) {
    auto f = std::make_shared<compressed_video_frame>();
    f->field = field, f->size = bytes, f->data = bytes > 0 ? std::make_unique<uint8_t[]>(bytes) : nullptr;
    return f;
}
}  // namespace

// No such interface, or a name longer than an interface's (cut, never overflowing): a defined address
// rather than whatever the request left behind.
TEST(CapabilitiesXml, UnknownOrOverlongInterfaceGivesTheNullAddress) {
    for (const auto& [iface, ptzText] : {std::pair{"nosuchif0", "true"}, {"averyveryverylongname", "false"}}) {
        setenv("PTZCAM_IFACE", iface, 1);
        std::string xml;
        EXPECT_EQ(network_send::build_capabilities_xml(ptzText[0] == 't', xml), 0);
        unsetenv("PTZCAM_IFACE");
        EXPECT_EQ(xml, "<ndi_capabilities ntk_ptz=\"" + std::string(ptzText) + "\" web_control=\"http://0.0.0.0\"/>");
    }
    LogCapture log(2);
    NetInfo info;
    readNetworkInfo(info, "2.4.6", "nosuchif0");
    EXPECT_EQ(log.text(), "Can't get MAC address\nCan't get IP address\nCan't get MASK\n");
}

// Without capabilities nothing is announced; a failed creation shuts the library down, as no destructor runs.
TEST(NetworkSend, NoGroupsNoEmptyAnnouncementAndAFailedCreationShutsTheLibraryDown) {
    RecordingNdi lib, failing;
    { network_send sender("{}", "", "PTZ", lib.self); }
    EXPECT_EQ(std::make_tuple(lib.calls, lib.groups),
              std::make_tuple(std::vector<std::string>{"initialize", "create", "send_destroy", "destroy"}, nullptr));
    failing.createOk = false;
    EXPECT_EQ(thrownMessage<std::runtime_error>([&] { network_send sender("{}", "<caps/>", "PTZ", failing.self); }),
              "Cannot create NDI sender!");
    EXPECT_EQ(failing.calls, (std::vector<std::string>{"initialize", "create", "destroy"}));
}

// Each stream's frame is held until its next frame, and the last ones until the library is done with them;
// frames for no stream, null frames and null audio are not passed on.
TEST(NetworkSend, HoldsEachStreamsFrameUntilItsNextFrameOrTheSendersEnd) {
    RecordingNdi lib;
    std::weak_ptr<compressed_video_frame> first, second, preview;
    bool aliveAtDestroy = false;
    lib.onSendDestroy = [&] { aliveAtDestroy = !second.expired() && !preview.expired(); };
    {
        network_send sender("{}", "<caps/>", "PTZ", lib.self);
        auto full = frame(1, 100), small = frame(2, 0), next = frame(2, 100);
        first = full, preview = small, second = next;
        sender.send_video(std::move(full), 0);
        sender.send_video(std::move(small), 1);
        const bool heldAfterOtherStream = !first.expired();
        sender.send_video(std::move(next), 0);
        sender.send_video(frame(2, 100), 2);
        sender.send_video(nullptr, 0);
        sender.send_audio(nullptr);
        EXPECT_EQ(std::make_pair(heldAfterOtherStream, first.expired()), std::make_pair(true, true)) << "held, then released";
        EXPECT_EQ(std::make_tuple(lib.videos.size(), lib.videos[0].frame_format_type, lib.videos[1].frame_format_type,
                                  lib.videos[1].p_data, lib.videos[1].data_size_in_bytes),
                  std::make_tuple(size_t{3}, ndi::frame_format::field_1, ndi::frame_format::progressive, nullptr, 0));
    }
    EXPECT_TRUE(aliveAtDestroy && second.expired() && preview.expired()) << "read by the library until it is destroyed";
    EXPECT_EQ(std::count(lib.calls.begin(), lib.calls.end(), "audio"), 0);
}
