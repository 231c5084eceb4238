// Path constants shared by every module.
#pragma once

#include <string>

// The separator appended between path components: one backslash on Windows,
// one slash on POSIX, then the terminating NUL.
extern const char fileSep[2];

// Placeholders of the boot definition file.
const std::string REP_APP_DIR = "${APP_DIR}";
const std::string REP_PARENT_DIR = "${PARENT_DIR}";
