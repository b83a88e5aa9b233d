// The ndiPTZ thread on the stand-in NDI library: frames captured, parsed, queued and released,
// a malformed one dropped without ending the thread, and a prompt stop.
#include <gtest/gtest.h>

#include "control/ndi_ptz_receiver.h"
#include "media/network_send.h"
#include "sim/app/virtual_camera.h"
#include "support/fake_visca_target.h"
#include "support/log_capture.h"
#include "support/quiet_settings.h"
#include "support/wait_for.h"

using namespace std::chrono_literals;

TEST(NdiPtzReceiverThread, QueuesOneRecordPerFrameAndReleasesEveryFrame) {
    sim::VirtualCamera camera(quietSettings("none"));
    auto sender = std::make_shared<network_send>("{}", "<ndi_capabilities/>", "PTZ", camera.platform());
    FakeViscaTarget target;
    LogCapture log(2);
    NdiPtzReceiver receiver(sender, target);
    receiver.start();
    auto& ndi = camera.ndi();
    for (const char* xml : {R"(<ntk_ptz_pan_tilt_speed pan_speed="0.5" tilt_speed="-2"/>)", "<ntk_ptz_zoom zoom=",
                            R"(<ntk_ptz_recall_preset index="3"/>)"})
        ASSERT_TRUE(ndi.injectMetadata(xml));
    ASSERT_TRUE(waitFor([&] { return target.commands().size() == 2; }, 3s));
    const auto pushed = target.commands();
    EXPECT_EQ(pushed[0].code, NDI_PT_SPEED);
    EXPECT_FLOAT_EQ(pushed[0].arg2, -1.0f);
    EXPECT_EQ(pushed[1].code, NDI_RECALL_PRESET);
    EXPECT_FLOAT_EQ(pushed[1].arg2, 1.0f);
    EXPECT_EQ(receiver.framesReceived(), 3u);
    ASSERT_TRUE(waitFor([&] { return ndi.sender()->metadataOutstanding() == 0; }, 1s));
    EXPECT_EQ(ndi.sender()->metadataCaptured(), 3u);
    EXPECT_EQ(ndi.misuse(), 0u);
    EXPECT_NE(log.text().find("not well-formed XML"), std::string::npos);

    const auto asked = std::chrono::steady_clock::now();
    receiver.stop();
    EXPECT_LT(std::chrono::steady_clock::now() - asked, 400ms);
}
