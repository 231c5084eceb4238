// The application's own taskbar button on Windows (the key appId): Java's
// processes start with the application's AppUserModelID, so that its
// windows group under the application's button, not Java's; and the
// windows of the JVM get the relaunch properties, so that pinning pins the
// launcher, with its name and icon, not javaw.exe. Nothing of it changes
// what the application itself does.
#pragma once

#include <string>
#include <vector>

#include "baseutil.h"
#include "procutil.h"

// From readBootXml: the key's value (empty: absent). A value that breaks
// Microsoft's rules for an AppUserModelID is refused with a line.
void placeAppId(const std::string& value);
// What the launch frame registers (presentChildren).
extern const ChildDesktop appIdDesktop;

// Why id is no AppUserModelID: empty when it is one. At most 128
// characters, no blank, CompanyName.ProductName with optional further
// sections, each of ASCII letters, digits, "-" and "_".
std::string appIdFault(const std::string& id);

// A window property of System.AppUserModel (its property id) and its value.
struct WindowProperty {
    unsigned id;
    WideText value;
};
// What a window of the JVM gets, in the order it is set: the relaunch
// command (the launcher, quoted), its display name (the launcher's name),
// its icon (the launcher's first), and the ID last, as the documentation
// of System.AppUserModel.ID asks.
std::vector<WindowProperty> appIdWindowProperties(const WideText& launcherPath, const std::string& id);
const unsigned APP_ID_PROPERTY = 5, RELAUNCH_COMMAND = 2, RELAUNCH_ICON = 3, RELAUNCH_NAME = 4;

// Platform: watching the windows of a child with the ID from its start to
// its end (Windows); nothing on POSIX, where the desktop groups windows by
// the .desktop file.
void watchAppWindows(unsigned long pid);
void unwatchAppWindows();
