// The QC sweep's stages: a stop with its pause, the pan out and back in steps of 10 degrees,
// the tilt up and down in steps of 3, then the cycle again.
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "control/qc_sweep.h"

TEST(QcSweep, CyclesThroughStopPanAndTiltStages) {
    std::vector<std::pair<int, int>> way;  // (axis: 1 pan, 0 tilt; degrees)
    for (int a = -165; a <= 175; a += 10) way.emplace_back(1, a);
    way.emplace_back(1, 175);  // 185 is held at the end, then the way back from there
    for (int a = 165; a >= -175; a -= 10) way.emplace_back(1, a);
    way.emplace_back(1, -175);
    for (int a = -17; a <= 19; a += 3) way.emplace_back(0, a);
    way.emplace_back(0, 20);
    for (int a = 17; a >= -19; a -= 3) way.emplace_back(0, a);
    way.emplace_back(0, -20);
    QcSweep sweep;
    for (int cycle = 0; cycle < 2; ++cycle) {
        const auto stop = sweep.next();
        EXPECT_EQ(std::make_pair(stop.code, stop.pause), std::make_pair(unsigned{DebugCommand::kStop}, QcSweep::kStopPause));
        std::vector<std::pair<int, int>> moves;
        for (QcSweep::Stage stage = sweep.stage(); stage != QcSweep::kStopped; stage = sweep.stage()) {
            const auto step = sweep.next();
            ASSERT_EQ(step.code, DebugCommand::kAbsoluteDegrees);
            EXPECT_EQ(step.args.a, stage == QcSweep::kPanSweep ? 1 : 0) << "the stage names the axis";
            moves.emplace_back(step.args.a, step.args.b);
        }
        EXPECT_EQ(moves, way) << "cycle " << cycle;
    }
}
