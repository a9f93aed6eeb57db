// The kernel's termios2 interface gives the speed as a number; it cannot share
// a translation unit with <termios.h>, hence this file of its own.
#include "sim/LineSpeed.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

int LineSpeed(int fd) {
    struct termios2 t {};
    if (ioctl(fd, TCGETS2, &t) != 0)
        return 0;
    return static_cast<int>(t.c_ospeed);
}
