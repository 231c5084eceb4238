#include "useroptions.h"

#include "apppaths.h"
#include "argutil.h"
#include "baseutil.h"
#include "pathconst.h"

static std::string javaOptions;  // as taken from the user's file

std::vector<std::string> userOptionLines(const std::string& text) {
    std::vector<std::string> options;
    // Notepad begins a UTF-8 file with a byte order mark.
    bool marked = text.compare(0, 3, "\xEF\xBB\xBF") == 0;
    std::vector<std::string> lines = splitAt(marked ? text.substr(3) : text, '\n');
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        std::string::size_type first = line.find_first_not_of(" \t\r");
        if (first == std::string::npos || line[first] == '#') continue;
        options.push_back(line.substr(first, line.find_last_not_of(" \t\r") + 1 - first));
    }
    return options;
}

static bool startsWith(const std::string& text, const char* prefix) {
    return text.compare(0, std::string(prefix).size(), prefix) == 0;
}

std::string userOptionFault(const std::string& option) {
    if (option.empty() || option[0] != '-') return "it is no JVM option: those begin with -";
    if (hasControlCharacter(option)) return "it holds a control character";
    // Java takes each line as one option: "-Xmx2g -Xss4m" would stop the
    // JVM, "-jar other.jar" would run another program.
    std::string::size_type blank = option.find_first_of(" \t");
    if (blank != std::string::npos && !startsWith(option, "-D"))
        return "one option a line: only a -D property's value may hold a blank";
    // What the program, the classes, the modules or the agents are, or the
    // options read from elsewhere; and what makes java print and end.
    static const char* const whole[] = {"-jar", "-cp", "-classpath", "--class-path", "-p", "--module-path",
                                        "--upgrade-module-path", "-m", "--module", "--patch-module", "--source",
                                        "-version", "--version", "-showversion", "-help", "--help", "-h", "-?",
                                        "-X", "--help-extra", "--dry-run", "--list-modules", "-d",
                                        "--describe-module", "--validate-modules", "-fullversion", "--full-version"};
    static const char* const prefixes[] = {"--class-path=", "--module-path=", "--upgrade-module-path=", "--module=",
                                           "--patch-module=", "--source=", "--describe-module=", "-Xbootclasspath",
                                           "-javaagent:", "-agentlib:", "-agentpath:", "-XX:Flags=",
                                           "-XX:VMOptionsFile=", "-Djava.class.path=", "-Djava.system.class.loader=",
                                           "-Djdk.module.main"};
    for (size_t i = 0; i < sizeof(whole) / sizeof(whole[0]); ++i)
        if (option == whole[i]) return "it would change which program or classes run";
    for (size_t i = 0; i < sizeof(prefixes) / sizeof(prefixes[0]); ++i)
        if (startsWith(option, prefixes[i])) return "it would change which program or classes run";
    // The class archive's and the crash reports' are the launcher's own.
    static const char* const launchers[] = {"-Xshare:", "-XX:SharedArchiveFile=", "-XX:SharedClassListFile=",
                                            "-XX:DumpLoadedClassList=", "-XX:ArchiveClassesAtExit=", "-XX:AOTCache=",
                                            "-XX:AOTMode=", "-XX:AOTConfiguration=", "-XX:ErrorFile="};
    for (size_t i = 0; i < sizeof(launchers) / sizeof(launchers[0]); ++i)
        if (startsWith(option, launchers[i])) return "the launcher sets it itself";
    return std::string();
}

// The file's text, or why it is passed over; false with an empty why where
// there is no file.
static bool readOptionsFile(const std::string& path, std::string& text, std::string& why) {
    unsigned long long size = 0;
    void* file = openFileForReading(path, size);
    if (file == NULL) {
        if (fileFacts(path).exists) why = "it is not a file that can be read";
        return false;
    }
    // A file of megabytes costs no reading: its size says enough.
    if (size > USER_OPTIONS_LIMIT) why = "it is larger than " + std::to_string(USER_OPTIONS_LIMIT / 1024) + " KiB";
    std::vector<unsigned char> bytes(static_cast<size_t>(why.empty() ? size : 0) + 1);
    long got = why.empty() ? readFileAt(file, 0, &bytes[0], static_cast<unsigned long>(size)) : 0;
    closeFileForReading(file);
    if (why.empty() && (got < 0 || static_cast<unsigned long long>(got) != size)) why = "it cannot be read";
    if (why.empty() && !validUtf8(&bytes[0], static_cast<size_t>(got))) why = "it is not UTF-8 text";
    if (!why.empty()) return false;
    text.assign(bytes.begin(), bytes.begin() + got);
    return true;
}

void readUserOptions(bool wanted) {
    if (!wanted) return;
    std::string folder = userConfigFolder(launcherName(exeFileName));
    if (folder.empty()) {
        writeLine(stdout, "userOptions=none: the user's settings folder is not known");
        return;
    }
    std::string path = folder + (nativePathRules == WindowsPaths ? launcherName(exeFileName) + ".options" : "options");
    std::string text, why;
    if (!readOptionsFile(path, text, why)) {
        writeLine(stdout, why.empty() ? "userOptions=none: no file " + path : "userOptionsIgnored=" + path + ": " + why);
        return;
    }
    writeLine(stdout, "userOptions=" + path);
    std::vector<std::string> lines = userOptionLines(text);
    for (size_t i = 0; i < lines.size(); ++i) {
        std::string ansi, fault = userOptionFault(lines[i]);
        bool spelled = utf8ToAnsiExactly(lines[i], ansi);
        if (fault.empty() && !spelled) fault = "it has characters that the system's code page lacks";
        std::string named = spelled && !hasControlCharacter(ansi) ? ansi : "(option " + std::to_string(i + 1) + ")";
        if (!fault.empty()) {
            writeLine(stdout, "userOptionRefused=" + named + ": " + fault);
            continue;
        }
        // The folders as Java gets them, in the code page.
        std::string option = Replace(Replace(ansi, REP_APP_DIR, appDir), REP_PARENT_DIR, parentDir);
        writeLine(stdout, "userOption=" + option);
        javaOptions += " " + quoteArgument(option);
    }
}

std::string userJavaOptions() {
    return javaOptions;
}
