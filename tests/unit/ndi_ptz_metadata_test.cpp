// NDI PTZ metadata frames to command records: the element table with its clamps and defaults,
// case rules, the zoom restart, and frames of every malformed kind.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "control/ndi_ptz_receiver.h"
#include "support/fake_visca_target.h"
#include "support/log_capture.h"

namespace {
const std::vector<std::pair<std::string, PtzCommand>> kElements = {
    // Pan and tilt: clampPM, not-a-number moves nothing (the receiver scenario and the end-to-end
    // drive check the clamp, the stop and the default recall speed).
    {R"(<ntk_ptz_pan_tilt_speed pan_speed="nan" tilt_speed="inf"/>)", {NDI_PT_SPEED, 0, 1.0f}},
    {R"(<ntk_ptz_pan_tilt pan="-3" tilt="0.25"/>)", {NDI_PT_MOVE, -1.0f, 0.25f}},
    {R"(<ntk_ptz_pan_tilt/>)", {NDI_PT_MOVE, 0, 0}},
    {R"(<ntk_ptz_pan_home pan="2" tilt="-inf"/>)", {NDI_PT_HOME, 1.0f, -1.0f}},
    // Zoom: clamp01, a missing value is position 0.
    {R"(<ntk_ptz_zoom zoom="7"/>)", {NDI_ZOOM, 1.0f, 0}}, {R"(<ntk_ptz_zoom zoom="-0.5"/>)", {NDI_ZOOM, 0, 0}},
    {R"(<ntk_ptz_zoom zoom="nan"/>)", {NDI_ZOOM, 0, 0}}, {R"(<ntk_ptz_zoom/>)", {NDI_ZOOM, 0, 0}},
    {R"(<ntk_ptz_zoom zoom="-1"/>)", {0, 0, 0}},
    {R"(<ntk_ptz_zoom_speed zoom_speed="0"/>)", {NDI_ZOOM_SPEED_STOP, 0, 0}},
    {R"(<ntk_ptz_zoom_speed zoom_speed="-5"/>)", {NDI_ZOOM_SPEED, -1.0f, 0}},
    // Presets: index 0..99 (strtol), speed clamp01 with 1.0 by default.
    {R"(<ntk_ptz_store_preset index="99"/>)", {NDI_STORE_PRESET, 99, 0}},
    {R"(<ntk_ptz_store_preset index="100"/>)", {0, 0, 0}}, {R"(<ntk_ptz_store_preset index="-1"/>)", {0, 0, 0}},
    {R"(<ntk_ptz_store_preset/>)", {NDI_STORE_PRESET, 0, 0}},
    {R"(<ntk_ptz_recall_preset index="4" speed="0.25"/>)", {NDI_RECALL_PRESET, 4, 0.25f}},
    {R"(<ntk_ptz_recall_preset index="99999999999999999999"/>)", {0, 0, 0}},
    // Keywords ignore case; attribute names do not.
    {R"(<ntk_ptz_flip enabled="TRUE"/>)", {NDI_FLIP, 1.0f, 0}},
    {R"(<ntk_ptz_flip enabled="yes"/>)", {NDI_FLIP, 0, 0}},
    {R"(<NTK_PTZ_FOCUS mode="AUTO"/>)", {NDI_FOCUS_AUTO, 0, 0}}, {R"(<ntk_ptz_focus Mode="auto"/>)", {0, 0, 0}},
    {R"(<ntk_ptz_focus mode="manual"/>)", {NDI_FOCUS_MANUAL, 0.5f, 0}},
    {R"(<ntk_ptz_focus mode="Manual" distance="3"/>)", {NDI_FOCUS_MANUAL, 1.0f, 0}},
    {R"(<ntk_ptz_focus mode="near"/>)", {0, 0, 0}},
    {R"(<ntk_ptz_focus_speed focus_speed="-0.5"/>)", {NDI_FOCUS_SPEED, -0.5f, 0}},
    {R"(<ntk_ptz_focus_speed/>)", {NDI_FOCUS_SPEED, 0, 0}},
    {R"(<ntk_ptz_white_balance mode="auto"/>)", {NDI_WB_AUTO, 0, 0}},
    {R"(<ntk_ptz_white_balance mode="Indoor"/>)", {NDI_WB_INDOOR, 0, 0}},
    {R"(<ntk_ptz_white_balance mode="outdoor"/>)", {NDI_WB_OUTDOOR, 0, 0}},
    {R"(<ntk_ptz_white_balance mode="ONE_SHOT"/>)", {NDI_WB_ONE_SHOT, 0, 0}},
    {R"(<ntk_ptz_white_balance mode="manual" red="0.2"/>)", {NDI_WB_MANUAL, 0.2f, 0.5f}},
    {R"(<ntk_ptz_white_balance mode="manual" red="-1" blue="2"/>)", {NDI_WB_MANUAL, 0, 1.0f}},
    {R"(<ntk_ptz_white_balance/>)", {0, 0, 0}}, {R"(<ntk_ptz_exposure mode="auto"/>)", {NDI_EXPOSURE_AUTO, 0, 0}},
    {R"(<ntk_ptz_exposure mode="manual" value="0.2"/>)", {NDI_EXPOSURE_MANUAL, 0, 0.2f}},
    {R"(<ntk_ptz_exposure mode="manual"/>)", {NDI_EXPOSURE_MANUAL, 0, 0.5f}},
    {R"(<ntk_ptz_exposure mode="shutter"/>)", {0, 0, 0}},
    // The first element decides, after a byte-order mark, white space, a declaration or comments.
    {"\xEF\xBB\xBF \r\n\t<ntk_ptz_zoom zoom=\"0.25\"/>", {NDI_ZOOM, 0.25f, 0}},
    {R"(<?xml version="1.0"?><!-- x --><ntk_ptz_zoom zoom="0.75"><ntk_ptz_flip enabled="true"/></ntk_ptz_zoom>)",
     {NDI_ZOOM, 0.75f, 0}},
    {R"(<ntk_ptz_pan_tilt_speedy pan_speed="1"/>)", {0, 0, 0}}, {"", {0, 0, 0}},
};

// Elements nested `depth` deep, each level followed by `markup`.
std::string nested(int depth, const std::string& markup = "") {
    std::string text;
    for (int i = 0; i < depth; ++i) text += "<a>" + markup;
    for (int i = 0; i < depth; ++i) text += "</a>";
    return text;
}
std::string hiddenCloses(const std::string& markup) { return nested(NdiPtzMetadata::kMaxDepth + 3, markup); }

std::string manyElements() {
    std::string text = R"(<ntk_ptz_recall_preset index="7" speed="0.5">)";
    for (int i = 0; i < 5000; ++i) text += "<x a=\"1\"/>";
    return text + "</ntk_ptz_recall_preset>";
}
}  // namespace

TEST(NdiPtzMetadata, EachElementQueuesOneRecordWithItsClampsAndDefaults) {
    auto elements = kElements;
    elements.insert(elements.end(), {{manyElements(), {NDI_RECALL_PRESET, 7, 0.5f}},
                                     {"<ntk_ptz_zoom zoom=\"0." + std::string(100000, '5') + "\"/>", {NDI_ZOOM, 0.5555555f, 0}},
                                     {"<ntk_ptz_pan_tilt pan=\"-1e999\"/>" + nested(NdiPtzMetadata::kMaxDepth - 1),
                                      {NDI_PT_MOVE, -1.0f, 0}}});
    testing::internal::CaptureStdout();
    for (const auto& [xml, expected] : elements) {
        SCOPED_TRACE(xml.substr(0, 100));
        FakeViscaTarget target;
        NdiPtzReceiver receiver(nullptr, target);
        EXPECT_TRUE(receiver.handleFrame(xml));
        const auto pushed = target.commands();
        ASSERT_EQ(pushed.size(), 1u);
        EXPECT_EQ(std::make_tuple(pushed[0].code, receiver.lastCommand().code), std::make_tuple(expected.code, expected.code));
        EXPECT_FLOAT_EQ(pushed[0].arg1, expected.arg1);
        EXPECT_FLOAT_EQ(pushed[0].arg2, expected.arg2);
    }
    // The zoom speed line: the value read and the value used.
    EXPECT_NE(testing::internal::GetCapturedStdout().find("ndi zoom_speed -5.000000 -1.000000\n"), std::string::npos);
}

// Without a servo the adapter is looked for; the queued record is the no-op the table checks.
TEST(NdiPtzMetadata, ZoomMinusOneRestartsTheZoomAndLooksForTheAdapterOnlyWithoutAServo) {
    for (const auto& [zoom, servo, restarts, detections] :
         {std::tuple{"-1.0", 1, 1, 0}, {"-1.0", 0, 1, 1}, {"-0.999", 0, 0, 0}}) {
        FakeViscaTarget target;
        target.zoom_restart_result = servo;
        NdiPtzReceiver(nullptr, target).handleFrame(std::string("<ntk_ptz_zoom zoom=\"") + zoom + "\"/>");
        EXPECT_EQ(std::make_tuple(target.restarts, target.detections), std::make_tuple(restarts, detections)) << zoom;
    }
}

TEST(NdiPtzMetadata, MalformedFramesAreDroppedWithAMessageAndQueueNothing) {
    const std::string bad[] = {
        R"(<ntk_ptz_zoom zoom="0.5")", "ntk_ptz_zoom", R"(<ntk_ptz_zoom zoom="0.5></ntk_ptz_zoom>)", "<a></b>",
        std::string("\xFF\xFE<\x00a/>", 6), "<ntk_ptz_zoom zoom=\"" + std::string(1 << 20, '9'),
        nested(NdiPtzMetadata::kMaxDepth + 1), nested(200000),
        // Closing tags hidden in markup the parser skips must not hide real depth.
        hiddenCloses("<!DOCTYPE x [<!ELEMENT a ANY></a>]>"), hiddenCloses("<!-- > </a> -->"),
        hiddenCloses("<?pi > </a> ?>"), hiddenCloses("<![CDATA[ > </a>]]>"),
        "<a x=\"</a></a></a>\">" + nested(NdiPtzMetadata::kMaxDepth) + "</a>",
    };
    for (const auto& text : bad) {
        FakeViscaTarget target;
        LogCapture log(2);
        EXPECT_FALSE(NdiPtzReceiver(nullptr, target).handleFrame(text)) << text.substr(0, 80);
        EXPECT_TRUE(target.commands().empty());
        EXPECT_NE(log.text().find("not well-formed XML"), std::string::npos) << text.substr(0, 80);
    }
}
