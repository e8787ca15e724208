// The failures that end a start before the hand-off: the causes of
// base::Error from CantOpenFile to KernelInterfaceInvalid, each with the text
// of its "Error" message box.
#pragma once

#include "base/error.h"

namespace loader {

using LoadError = base::Error;

}  // namespace loader
