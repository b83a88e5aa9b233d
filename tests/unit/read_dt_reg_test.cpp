// The device-tree reg reader: 2 and 4 cells accepted, anything else refused with its message.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <unistd.h>

#include <cstdio>
#include <tuple>
#include <vector>

#include "hw/read_dt_reg.h"
#include "support/log_capture.h"

namespace {
std::string writeCells(const std::vector<uint32_t>& cells) {
    char name[] = "/tmp/dtregXXXXXX";
    const int fd = mkstemp(name);
    for (uint32_t c : cells) {
        const uint32_t big = htonl(c);
        EXPECT_EQ(write(fd, &big, 4), 4);
    }
    close(fd);
    return name;
}
}  // namespace

TEST(ReadDtReg, TwoAndFourCellsAreBigEndianAndFourTakeTheLowHalves) {
    memory_region r;
    const std::string two = writeCells({0x30000000, 0x08000000});
    EXPECT_EQ(read_dt_reg(two, r, 2), 2);
    EXPECT_EQ(std::make_tuple(r.physical, r.size), std::make_tuple(0x30000000u, 0x08000000u));

    const std::string four = writeCells({0x1, 0x38000000, 0x2, 0x00100000});
    EXPECT_EQ(read_dt_reg(four, r, 2), 4);
    EXPECT_EQ(std::make_tuple(r.physical, r.size), std::make_tuple(0x38000000u, 0x00100000u));
    std::remove(two.c_str());
    std::remove(four.c_str());
}

TEST(ReadDtReg, OtherCellCountsAreRefused) {
    for (const auto& cells : {std::vector<uint32_t>{}, std::vector<uint32_t>{1}, std::vector<uint32_t>{1, 2, 3}}) {
        const std::string path = writeCells(cells);
        memory_region r{7, 9};
        LogCapture log(2);
        EXPECT_EQ(read_dt_reg(path, r, 2), -1);
        EXPECT_EQ(log.text(), "Could not read " + path + "\n");
        std::remove(path.c_str());
    }
}

TEST(ReadDtReg, OpenFailureIsLoggedOnlyAtItsThreshold) {
    memory_region r;
    {
        LogCapture log(3);
        EXPECT_EQ(read_dt_reg("/nonexistent/reg", r, 4), -1);
        EXPECT_EQ(log.text(), "");
    }
    LogCapture log(4);
    EXPECT_EQ(read_dt_reg("/nonexistent/reg", r, 4), -1);
    EXPECT_EQ(log.text(), "Could not open /nonexistent/reg for reading!\n");
}
