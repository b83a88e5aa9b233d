// Memory areas, raw window and bus addresses of the two platform layouts.
#include <gtest/gtest.h>

#include "hw/device_cyclone.h"

TEST(Device, InitialAreasDescribeA128MiBRegion) {
    device d;
    EXPECT_EQ(d.get_area(0), (address_range{0, 0x7ff0000}));
    EXPECT_EQ(d.get_area(1), (address_range{0, 0}));
    EXPECT_EQ(d.get_area(3), (address_range{0x7ff0000, 0x10000}));
    memory_region same{0x30000000, 0x8000000};
    d.set_reserved(same);
    EXPECT_EQ(d.get_area(0), (address_range{0, 0x7ff0000}));
    EXPECT_EQ(d.get_area(3), (address_range{0x7ff0000, 0x10000}));
    EXPECT_EQ(d.get_area(4), (address_range{}));
    EXPECT_EQ(d.get_area(-1), (address_range{}));
}

TEST(Device, ReservedSplitKeepsTheLast64KiBForAudio) {
    device d;
    d.set_reserved({0x20000000, 0x1000000});
    EXPECT_EQ(d.get_area(0), (address_range{0, 0xff0000}));
    EXPECT_EQ(d.get_area(3), (address_range{0xff0000, 0x10000}));
    // A region too small to split never yields an area past its end.
    d.set_reserved({0x20000000, 0x8000});
    EXPECT_EQ(d.get_area(0), (address_range{0, 0}));
    EXPECT_EQ(d.get_area(3), (address_range{0, 0x8000}));
}

TEST(Device, RawWindowFallsBackWithoutAVideoRegion) {
    device d;
    d.set_raw({0x10000000, 0x4000000});
    EXPECT_EQ(d.get_raw(), (address_range{0x10000000, 0x4000000}));
    d.set_raw({0, 0x4000000});
    EXPECT_EQ(d.get_raw(), (address_range{0, 0x20000000}));
}

TEST(Device, OnlyTheCycloneSetsBit31) {
    device plain;
    device_cyclone cyclone;
    const device& base = cyclone;
    for (uint32_t address : {0u, 0x30000000u, 0x80000001u, 0x7fffffffu}) {
        EXPECT_EQ(plain.to_bus(address), address);
        EXPECT_EQ(base.to_bus(address), address | 0x80000000u);
    }
}
