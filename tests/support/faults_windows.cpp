// SPDX-License-Identifier: GPL-3.0-or-later
#include "faults.h"

// Windows limits no file's size per process.
bool limitFileSize(qint64)
{
    return false;
}

void liftFileSizeLimit() {}

void surviveFileSizeLimit() {}

bool mayWriteAnyFile()
{
    return false;
}
