#include "classarchive.h"

#include "argutil.h"
#include "baseutil.h"

std::string classArchiveOptions(int javaVersion, const std::string& archive, bool exists) {
    if (javaVersion < 13) return std::string();
    // The JVM writes its archive warnings, of a stale or damaged archive
    // say, on standard output: not where the user looks.
    std::string quiet = javaVersion >= 25 ? " -Xlog:cds*=off -Xlog:aot*=off" : " -Xlog:cds*=off";
    // Whatever the file holds, -Xshare:auto, the default, starts without
    // it when it cannot be used.
    std::string option;
    if (javaVersion >= 25)
        option = (exists ? "-XX:AOTCache=" : "-XX:AOTCacheOutput=") + archive;
    else if (javaVersion >= 19)
        return quiet + " -XX:+AutoCreateSharedArchive " + quoteArgument("-XX:SharedArchiveFile=" + archive);
    else
        option = (exists ? "-XX:SharedArchiveFile=" : "-XX:ArchiveClassesAtExit=") + archive;
    return quiet + " " + quoteArgument(option);
}

std::string launcherName(const std::string& exeFileName) {
    std::string name = exeFileName.substr(0, exeFileName.rfind('.'));
    return name.empty() ? exeFileName : name;
}

// "-" and the FNV-1a hash of text: a short, stable name for it.
static std::string hashSuffix(const std::string& text) {
    unsigned long hash = 2166136261UL;
    for (size_t i = 0; i < text.size(); ++i)
        hash = ((hash ^ static_cast<unsigned char>(text[i])) * 16777619UL) & 0xFFFFFFFFUL;
    static const char digits[] = "0123456789abcdef";
    std::string suffix = "-";
    for (int shift = 28; shift >= 0; shift -= 4) suffix += digits[(hash >> shift) & 0xF];
    return suffix;
}

std::string classArchiveName(const std::string& exeFileName, const std::string& appDir, bool inUserFolder,
                             int javaVersion, const std::string& jvmOptions) {
    std::string name = launcherName(exeFileName);
    if (inUserFolder) name += hashSuffix(appDir);
    if (!jvmOptions.empty()) name += hashSuffix(jvmOptions);
    return name + (javaVersion >= 25 ? ".aot" : ".jsa");
}

bool folderWritable(const std::string& dir) {
    return writableForJava(canCreateFilesIn(dir), virtualization);
}
