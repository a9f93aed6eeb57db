#pragma once

// The output speed in force on a terminal, in baud, custom rates included;
// 0 when it cannot be read. On a pseudo-terminal, the master end sees the
// speed the program on the slave end set.
int LineSpeed(int fd);
