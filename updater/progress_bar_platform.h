// The progress bars' way to the windows and the system's drawing functions
// that update.desc declares.
#pragma once

#include "updater/crystal_progress_bar.h"

namespace updater {

const BarPlatform& window_bar_platform();

}  // namespace updater
