// What only the Windows build has of the launcher's own paths.
#pragma once

#include "apppaths.h"
#include "baseutil.h"

// The executable's path as Windows keeps it: UTF-16, every character
// intact; empty when it cannot be had.
WideText moduleFileNameW();
