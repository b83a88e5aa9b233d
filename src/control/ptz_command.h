// The record every front-end hands to the command queue, and the command codes it carries.
#pragma once

#include <cstdint>

struct PtzCommand {
    int32_t code = 0;
    float arg1 = 0;
    float arg2 = 0;
};

// Command codes; 0 (and any code not listed) is consumed without effect.
inline constexpr int32_t PTZ_QUIT = -1;

inline constexpr int32_t NDI_PT_SPEED = 0x100;
inline constexpr int32_t NDI_PT_SPEED_STOP = 0x102;
inline constexpr int32_t NDI_PT_MOVE = 0x104;
inline constexpr int32_t NDI_PT_HOME = 0x106;

inline constexpr int32_t VISCA_PTZ_UP = 0x110;
inline constexpr int32_t VISCA_PTZ_DOWN = 0x111;
inline constexpr int32_t VISCA_PTZ_LEFT = 0x112;
inline constexpr int32_t VISCA_PTZ_RIGHT = 0x113;
inline constexpr int32_t VISCA_PTZ_DOWNLEFT = 0x114;
inline constexpr int32_t VISCA_PTZ_DOWNRIGHT = 0x115;
inline constexpr int32_t VISCA_PTZ_UPLEFT = 0x116;
inline constexpr int32_t VISCA_PTZ_UPRIGHT = 0x117;
inline constexpr int32_t VISCA_PTZ_STOP = 0x118;
inline constexpr int32_t VISCA_PTZ_HOME = 0x119;
inline constexpr int32_t VISCA_PTZ_RESET = 0x11A;
inline constexpr int32_t VISCA_PTZ_POSITION = 0x11B;

// Free mode (switch stops off): the pan/tilt code plus this offset.
inline constexpr int32_t VISCA_PTZ_FREE_OFFSET = 0x2000;
inline constexpr int32_t VISCA_PTZ_FREE_UP = 0x2110;
inline constexpr int32_t VISCA_PTZ_FREE_DOWN = 0x2111;
inline constexpr int32_t VISCA_PTZ_FREE_LEFT = 0x2112;
inline constexpr int32_t VISCA_PTZ_FREE_RIGHT = 0x2113;
inline constexpr int32_t VISCA_PTZ_FREE_DOWNLEFT = 0x2114;
inline constexpr int32_t VISCA_PTZ_FREE_DOWNRIGHT = 0x2115;
inline constexpr int32_t VISCA_PTZ_FREE_UPLEFT = 0x2116;
inline constexpr int32_t VISCA_PTZ_FREE_UPRIGHT = 0x2117;
inline constexpr int32_t VISCA_PTZ_FREE_STOP = 0x2118;
inline constexpr int32_t VISCA_PTZ_FREE_POSITION = 0x211B;

inline constexpr int32_t VISCA_PTZ_ZOOM_STOP = 0x120;
inline constexpr int32_t VISCA_PTZ_ZOOM_TELE = 0x121;
inline constexpr int32_t VISCA_PTZ_ZOOM_WIDE = 0x122;
inline constexpr int32_t VISCA_PTZ_MEMORY_SET = 0x123;
inline constexpr int32_t VISCA_PTZ_MEMORY_RECALL = 0x124;
inline constexpr int32_t VISCA_PTZ_MEMORY_RESET = 0x125;
inline constexpr int32_t VISCA_PTZ_ZOOM_ABSOLUTE_POS = 0x126;
inline constexpr int32_t VISCA_PTZ_ZOOM_TORQUE = 0x127;
inline constexpr int32_t VISCA_PTZ_ZOOM_DIRECTION = 0x128;
inline constexpr int32_t VISCA_PTZ_ZOOM_RELATIVE_POS = 0x129;
inline constexpr int32_t VISCA_PTZ_ZOOM_RESTART = 0x12A;

inline constexpr int32_t VISCA_PTZ_FOCUS_AUTO = 0x130;
inline constexpr int32_t VISCA_PTZ_FOCUS_MANUAL = 0x131;
inline constexpr int32_t VISCA_PTZ_FOCUS = 0x132;
inline constexpr int32_t VISCA_PTZ_FOCUS_VARIABLE = 0x133;
inline constexpr int32_t VISCA_PTZ_AE_AUTO = 0x140;
inline constexpr int32_t VISCA_PTZ_IRIS = 0x141;

inline constexpr int32_t NDI_ZOOM_SPEED = 0x200;
inline constexpr int32_t NDI_ZOOM_SPEED_STOP = 0x202;
inline constexpr int32_t NDI_ZOOM = 0x204;
inline constexpr int32_t NDI_WB_AUTO = 0x300;
inline constexpr int32_t NDI_WB_INDOOR = 0x302;
inline constexpr int32_t NDI_WB_OUTDOOR = 0x304;
inline constexpr int32_t NDI_WB_ONE_SHOT = 0x306;
inline constexpr int32_t NDI_WB_MANUAL = 0x308;
inline constexpr int32_t NDI_FOCUS_AUTO = 0x400;
inline constexpr int32_t NDI_FOCUS_MANUAL = 0x402;
inline constexpr int32_t NDI_FOCUS_SPEED = 0x404;
inline constexpr int32_t NDI_EXPOSURE_AUTO = 0x500;
inline constexpr int32_t NDI_EXPOSURE_MANUAL = 0x502;
inline constexpr int32_t NDI_STORE_PRESET = 0x600;
inline constexpr int32_t NDI_RECALL_PRESET = 0x602;
inline constexpr int32_t NDI_FLIP = 0x700;

inline constexpr int32_t VISCA_PTZ_POWER = 0x2000;
inline constexpr int32_t VISCA_PTZ_TALLY = 0x2001;
inline constexpr int32_t VISCA_PTZ_MENU_TOGGLE = 0x2002;
inline constexpr int32_t VISCA_PTZ_MENU = 0x2003;
inline constexpr int32_t VISCA_PTZ_KEY_84 = 0x2004;
inline constexpr int32_t VISCA_PTZ_KEY_86 = 0x2005;
inline constexpr int32_t VISCA_PTZ_KEY_C4 = 0x2006;
inline constexpr int32_t VISCA_PTZ_KEY_C2 = 0x2007;
inline constexpr int32_t VISCA_PTZ_KEY_A2 = 0x2008;
inline constexpr int32_t VISCA_PTZ_RECORD_2 = 0x200A;
inline constexpr int32_t VISCA_PTZ_RECORD_3 = 0x200B;
inline constexpr int32_t VISCA_PTZ_KEY30_4 = 0x200C;
inline constexpr int32_t VISCA_PTZ_KEY30_5 = 0x200D;
inline constexpr int32_t VISCA_PTZ_PAN_REVERSE = 0x200E;
inline constexpr int32_t VISCA_PTZ_TILT_REVERSE = 0x200F;
inline constexpr int32_t VISCA_PTZ_RAMP_CURVE = 0x2010;
inline constexpr int32_t VISCA_PTZ_WB_AUTO = 0x2011;
inline constexpr int32_t VISCA_PTZ_WB_INDOOR = 0x2012;
inline constexpr int32_t VISCA_PTZ_WB_OUTDOOR = 0x2013;
inline constexpr int32_t VISCA_PTZ_WB_ONE_PUSH = 0x2014;
inline constexpr int32_t VISCA_PTZ_WB_MANUAL = 0x2015;

// The panTiltMove direction a VISCA pan/tilt code (normal or free) asks for:
// 1..8 drive, 9 stop, 0 home, 255 reset, 10 absolute; -1 for any other code.
// Free home and free reset are never produced and are not pan/tilt codes.
int panTiltDirectionOf(int32_t code);
// True for the free-mode pan/tilt codes.
bool isFreeModeCode(int32_t code);
// Integer part of a command argument, defined for any float the front-ends hand over.
int32_t integerOf(float value);
