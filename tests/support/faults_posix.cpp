// SPDX-License-Identifier: GPL-3.0-or-later
#include "faults.h"

#include <algorithm>
#include <csignal>
#include <sys/resource.h>
#include <unistd.h>

bool limitFileSize(qint64 bytes)
{
    surviveFileSizeLimit();
    rlimit limit{};
    if (getrlimit(RLIMIT_FSIZE, &limit) != 0)
        return false;
    limit.rlim_cur = std::min(rlim_t(bytes), limit.rlim_max);
    return setrlimit(RLIMIT_FSIZE, &limit) == 0;
}

void liftFileSizeLimit()
{
    rlimit limit{};
    if (getrlimit(RLIMIT_FSIZE, &limit) == 0) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
}

void surviveFileSizeLimit()
{
    std::signal(SIGXFSZ, SIG_IGN);
}

bool mayWriteAnyFile()
{
    return geteuid() == 0;
}
