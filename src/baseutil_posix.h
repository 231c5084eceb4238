// What only the POSIX build has of the file helpers.
#pragma once

#include "baseutil.h"

// Descriptors 0 to 2 may be closed by the starter: a descriptor that the
// launcher opens would then take one of their places, and lines for
// standard error, or a child's, would land in it. fd itself when above 2
// (or negative), else a close-on-exec copy above them, fd closed.
int aboveStandard(int fd);
