// The VISCA video and audio system codes of the input the tracking block measures.
#pragma once

// Width, height (one field's for interlaced input), interlaced flag and the integer frame rate
// (59.94 Hz is 59); 0x36 for a format without a code.
int videoSystemCode(int width, int height, int interlaced, int rate);
// The audio sample rate in Hz; 0 for an input that is not recognised.
int audioSystemCode(int rate);
