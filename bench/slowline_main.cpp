// SPDX-License-Identifier: GPL-3.0-or-later
// A branch office's line as a program of its own, for the load benchmark's
// workstations: passes 127.0.0.1:PORT on (printed on standard output) to
// 127.0.0.1:SERVER_PORT, each direction after DELAY_MS, until its standard
// input ends.
// Usage: slowline SERVER_PORT DELAY_MS
#include "slowline.h"

#include <cstdio>
#include <cstdlib>
#include <exception>

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fputs("Usage: slowline SERVER_PORT DELAY_MS\n", stderr);
        return 2;
    }
    try {
        SlowLine line(std::uint16_t(std::atoi(argv[1])), std::atoi(argv[2]));
        std::printf("%u\n", unsigned(line.port()));
        std::fflush(stdout);
        while (std::getchar() != EOF) {
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "slowline: %s\n", e.what());
        return 1;
    }
    return 0;
}
