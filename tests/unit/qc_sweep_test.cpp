// The QC sweep's stages: a stop with its pause, the pan out and back in steps of 10 degrees,
// the tilt up and down in steps of 3, then the cycle again.
#include <gtest/gtest.h>

#include <vector>

#include "control/qc_sweep.h"

TEST(QcSweep, CyclesThroughStopPanAndTiltStages) {
    QcSweep sweep;
    std::vector<int> pan, tilt;
    auto stop = sweep.next();
    EXPECT_EQ(stop.code, DebugCommand::kStop);
    EXPECT_EQ(stop.pause, QcSweep::kStopPause);
    EXPECT_EQ(sweep.stage(), QcSweep::kPanSweep);
    for (int cycle = 0; cycle < 2; ++cycle) {
        pan.clear();
        tilt.clear();
        while (sweep.stage() == QcSweep::kPanSweep) {
            const auto step = sweep.next();
            ASSERT_EQ(step.code, DebugCommand::kAbsoluteDegrees);
            ASSERT_EQ(step.args.a, 1);
            pan.push_back(step.args.b);
        }
        while (sweep.stage() == QcSweep::kTiltSweep) {
            const auto step = sweep.next();
            ASSERT_EQ(step.code, DebugCommand::kAbsoluteDegrees);
            ASSERT_EQ(step.args.a, 0);
            tilt.push_back(step.args.b);
        }
        std::vector<int> panWay, tiltWay;
        for (int a = -165; a <= 175; a += 10) panWay.push_back(a);
        panWay.push_back(175);  // 185 is held at the end, then the way back from there
        for (int a = 165; a >= -175; a -= 10) panWay.push_back(a);
        panWay.push_back(-175);
        for (int a = -17; a <= 19; a += 3) tiltWay.push_back(a);
        tiltWay.push_back(20);
        for (int a = 17; a >= -19; a -= 3) tiltWay.push_back(a);
        tiltWay.push_back(-20);
        EXPECT_EQ(pan, panWay) << "cycle " << cycle;
        EXPECT_EQ(tilt, tiltWay) << "cycle " << cycle;
        ASSERT_EQ(sweep.stage(), QcSweep::kStopped);
        EXPECT_EQ(sweep.next().code, DebugCommand::kStop);
    }
}
