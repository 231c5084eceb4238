#include "appid.h"

#include "baseutil.h"

static std::string appId;  // empty: none

std::string appIdFault(const std::string& id) {
    if (id.empty()) return "it is empty";
    if (id.size() > 128) return "it is longer than 128 characters";
    if (id.find(' ') != std::string::npos) return "it holds a blank";
    std::vector<std::string> sections = splitAt(id, '.');
    if (sections.size() < 2) return "it has no CompanyName.ProductName form";
    for (size_t i = 0; i < sections.size(); ++i) {
        if (sections[i].empty()) return "a section between dots is empty";
        for (size_t k = 0; k < sections[i].size(); ++k) {
            char c = sections[i][k];
            bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
                         c == '_';
            if (!plain) return "it holds a character other than ASCII letters, digits, -, _ and .";
        }
    }
    return std::string();
}

void placeAppId(const std::string& value) {
    if (value.empty()) return;
    std::string fault = appIdFault(value);
    if (!fault.empty()) {
        writeLine(stdout, "appIdRefused=" + value + ": " + fault);
        return;
    }
    appId = value;
    writeLine(stdout, "appId=" + appId);
}

static std::string currentAppId() {
    return appId;
}

static void watchWindowsWithId(unsigned long pid) {
    if (!appId.empty()) watchAppWindows(pid);
}

const ChildDesktop appIdDesktop = {currentAppId, watchWindowsWithId, unwatchAppWindows};

std::vector<WindowProperty> appIdWindowProperties(const WideText& launcherPath, const std::string& id) {
    WideText name = launcherPath.substr(launcherPath.find_last_of(L"\\/") + 1);
    // ".exe" in any case, as Windows compares names.
    static const wchar_t exe[] = L".exe";
    bool exeEnd = name.size() > 4;
    for (size_t i = 0; exeEnd && i < 4; ++i) exeEnd = (name[name.size() - 4 + i] | 0x20) == exe[i];
    if (exeEnd) name.resize(name.size() - 4);
    std::vector<WindowProperty> properties;
    WindowProperty command = {RELAUNCH_COMMAND, L"\"" + launcherPath + L"\""};
    WindowProperty display = {RELAUNCH_NAME, name};
    WindowProperty icon = {RELAUNCH_ICON, launcherPath + L",0"};
    WindowProperty idProperty = {APP_ID_PROPERTY, utf8ToWString(id)};
    properties.push_back(command);
    properties.push_back(display);
    properties.push_back(icon);
    properties.push_back(idProperty);
    return properties;
}
