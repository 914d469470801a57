// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QtGlobal>

// Faults a test sets up by means that differ by platform.

// No file of this process may grow past bytes from now on (false where the
// platform has no such limit); a write past it fails instead of ending the
// process.
bool limitFileSize(qint64 bytes);
void liftFileSizeLimit();
// A process started under such a limit goes on past a write that fails.
void surviveFileSizeLimit();
// Whether this process may write any file, write-protected or not.
bool mayWriteAnyFile();
