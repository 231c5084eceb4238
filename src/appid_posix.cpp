#include "appid.h"

// A desktop on Linux groups a program's windows by its .desktop file's
// StartupWMClass, which Java sets from the main class: nothing to tag.
void watchAppWindows(unsigned long) {}

void unwatchAppWindows() {}
