// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>

class TfrmRimdal;

// The program's start-up: program context, title, main window, message loop.
// shown runs once the window is shown (benchmarks end the process there).
int runRimdal(int& argc, char** argv, const std::function<void(TfrmRimdal&)>& shown = {});
