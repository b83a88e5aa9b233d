// The termios speed for a baud rate, as the serial ports of the head open them: 115200
// for a rate the table does not know.
#pragma once

#include <termios.h>

inline speed_t serialSpeed(int baud) {
    switch (baud) {
        case 9600: return B9600;
        case 19200: return B19200;
        case 38400: return B38400;
        case 57600: return B57600;
        case 500000: return B500000;
        case 1000000: return B1000000;
        default: return B115200;
    }
}
