#include "classarchive.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>

#include "apppaths.h"
#include "argutil.h"
#include "baseutil.h"
#include "javaruntime.h"
#include "procutil.h"
#include "zipcheck.h"

// The state of this run: the archive's path (empty: none this run), the
// major version of the JVM it is for, what it is for, and the class list
// that the application's run records.
static std::string classArchive;
static int classArchiveJava = 0;
static std::string archiveJava;        // the runtime's executable, found
static std::string archiveClassPath;   // as the application runs with it
static std::vector<std::string> archiveFiles;  // what the record is about
static std::vector<std::string> archiveNamed;  // and what manifests name
static std::string classList;          // made for this run; empty: none
static const char JOB_VARIABLE[] = "LAUNCHER_CLASS_ARCHIVE_JOB";

static std::string recordPathOf(const std::string& archive) {
    return archive + ".record";
}

// Each start of the application writes its process id here, so that a
// making in the background sees it come and gives way.
static std::string startMarkPathOf(const std::string& archive) {
    return archive + ".start";
}

// A file, not a folder that happens to stand where the archive goes.
static bool archiveThere(const std::string& archive) {
    return !archive.empty() && pathFileExists(archive) != 0;
}

std::string classArchiveOptions(int javaVersion, const std::string& archive, bool exists,
                                const std::string& classList) {
    if (javaVersion < 13 || (!exists && classList.empty())) return std::string();
    // The JVM writes its archive warnings, of a stale or damaged archive
    // say, on standard output: not where the user looks. Whatever the file
    // holds, -Xshare:auto, the default, starts without it when it cannot
    // be used; a class list is written silently, into a file made for it.
    std::string quiet = javaVersion >= 25 ? " -Xlog:cds*=off -Xlog:aot*=off" : " -Xlog:cds*=off";
    std::string option = exists ? "-XX:SharedArchiveFile=" + archive : "-XX:DumpLoadedClassList=" + classList;
    return quiet + " " + quoteArgument(option);
}

std::string classArchiveDumpCommand(const std::string& java, int javaVersion, const std::string& classList,
                                    const std::string& output, const std::string& classPath) {
    // On one processor, so that a start of the application meanwhile keeps
    // the others; with G1, whose heap objects the archive then holds too.
    std::string line = quoteArgument(java) + " -Xshare:dump -XX:ActiveProcessorCount=1 -XX:+UseG1GC " +
                       quoteArgument("-XX:SharedClassListFile=" + classList) +
                       " " + quoteArgument("-XX:SharedArchiveFile=" + output);
    if (javaVersion >= 25) line += " -XX:+AOTClassLinking";
    return line + " -cp " + quoteArgument(classPath);
}

std::string classArchiveName(const std::string& exeFileName, const std::string& appDir, bool inUserFolder,
                             int javaVersion, const std::string& jvmOptions) {
    std::string name = launcherName(exeFileName);
    if (inUserFolder) name += hashSuffix(appDir);
    if (!jvmOptions.empty()) name += hashSuffix(jvmOptions);
    return name + (javaVersion >= 25 ? ".aot" : ".jsa");
}

static const char NAMED[] = "\tClass-Path";

std::string classArchiveRecord(const std::vector<FileFacts>& files, const std::vector<FileFacts>& named) {
    std::string record;
    for (size_t i = 0; i < files.size() + named.size(); ++i) {
        const FileFacts& f = i < files.size() ? files[i] : named[i - files.size()];
        record += f.path + "\t";
        record += f.exists ? std::to_string(f.size) + "\t" + std::to_string(f.time) : "missing";
        record += i < files.size() ? "\n" : std::string(NAMED) + "\n";
    }
    return record;
}

// The lines of text as key and value, split at the first separator; a
// line without one is passed over.
typedef std::vector<std::pair<std::string, std::string> > KeyedLines;
static KeyedLines keyedLines(const std::string& text, char separator) {
    KeyedLines lines;
    std::vector<std::string> all = splitAt(text, '\n');
    for (size_t i = 0; i < all.size(); ++i) {
        std::string::size_type split = all[i].find(separator);
        if (split != std::string::npos) lines.push_back(std::make_pair(all[i].substr(0, split), all[i].substr(split + 1)));
    }
    return lines;
}

// The folder of a path, with its separator; empty when it names none.
static std::string folderOf(const std::string& path) {
    std::string::size_type split = lastSeparator(path, nativePathRules, nativeLeadByte);
    return split == std::string::npos ? std::string() : path.substr(0, split + 1);
}

static bool endsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// A job's path as folder, archive name and the process id between them
// (FOLDER/ARCHIVE.PID.job); false when it has no such shape.
static bool jobPathParts(const std::string& jobPath, std::string& folder, std::string& archive, std::string& pid) {
    folder = folderOf(jobPath);
    std::string name = jobPath.substr(folder.size());
    std::string::size_type pidStart = name.size() > 5 && endsWith(name, ".job") ? name.rfind('.', name.size() - 5)
                                                                                 : std::string::npos;
    if (pidStart == std::string::npos) return false;
    pid = name.substr(pidStart + 1, name.size() - 4 - pidStart - 1);
    archive = name.substr(0, pidStart);
    return !pid.empty() && pid.find_first_not_of("0123456789") == std::string::npos;
}

std::string classArchiveJobPlaceFault(const std::string& jobPath, const std::vector<std::string>& folders,
                                      const std::string& launcherName) {
    std::string folder, archive, pid;
    bool shaped = jobPathParts(jobPath, folder, archive, pid);
    bool known = false;
    for (size_t i = 0; i < folders.size(); ++i) known = known || (!folders[i].empty() && folders[i] == folder);
    if (!known) return "it is not in a folder of this launcher's archives";
    if (!shaped || archive.compare(0, launcherName.size(), launcherName) != 0 ||
        !(endsWith(archive, ".jsa") || endsWith(archive, ".aot")))
        return "its name is not one of this launcher's jobs";
    return std::string();
}

std::string classArchiveJobFault(const std::string& jobPath, const std::string& jobText,
                                 const std::vector<std::string>& folders, const std::string& launcherName,
                                 const std::string& appDir) {
    std::string fault = classArchiveJobPlaceFault(jobPath, folders, launcherName);
    if (!fault.empty()) return fault;
    std::string folder, archive, pid;
    jobPathParts(jobPath, folder, archive, pid);
    std::map<std::string, std::string> values;
    KeyedLines lines = keyedLines(jobText, '=');
    for (size_t i = 0; i < lines.size(); ++i) {
        if (hasControlCharacter(lines[i].second)) return "its " + lines[i].first + " holds a control character";
        if (lines[i].first != "file" && !values.insert(lines[i]).second) return "it names " + lines[i].first + " twice";
    }
    if (values["archive"] != folder + archive) return "its archive is not the one it is named after";
    if (values["classlist"] != folder + archive + "." + pid + ".classlist") return "its class list is not its own";
    if (values["dir"] != appDir) return "it is not for this application's folder";
    if (!isAbsolutePath(values["java"], nativePathRules)) return "its java is not an absolute path";
    return std::string();
}

unsigned long leftoverProcess(const std::string& name, const std::string& archiveName) {
    if (name.size() <= archiveName.size() + 1 || name.compare(0, archiveName.size() + 1, archiveName + ".") != 0)
        return 0;
    std::string rest = name.substr(archiveName.size() + 1);
    std::string::size_type dot = rest.find('.');
    std::string pid = rest.substr(0, dot), kind = dot == std::string::npos ? std::string() : rest.substr(dot);
    if (pid.empty() || pid.size() > 9 || pid.find_first_not_of("0123456789") != std::string::npos) return 0;
    if (kind != ".part" && kind != ".part.record" && kind != ".classlist" && kind != ".job") return 0;
    return std::strtoul(pid.c_str(), NULL, 10);
}

// path -> the rest of its line.
static std::map<std::string, std::string> recordLines(const std::string& record) {
    KeyedLines lines = keyedLines(record, '\t');
    return std::map<std::string, std::string>(lines.begin(), lines.end());
}

std::vector<std::string> namedInRecord(const std::string& record) {
    std::vector<std::string> named;
    KeyedLines lines = keyedLines(record, '\t');
    const std::string flag = NAMED;
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string& rest = "\t" + lines[i].second;
        if (rest.size() > flag.size() && rest.compare(rest.size() - flag.size(), flag.size(), flag) == 0)
            named.push_back(lines[i].first);
    }
    return named;
}

static std::string percentDecoded(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
            out += static_cast<char>(std::stoi(text.substr(i + 1, 2), NULL, 16));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

// A Class-Path URL as a path: relative, below the jar's folder; absolute
// (/x, file:/x, file:///x), as it stands. Empty for any other kind.
static std::string classPathUrlPath(const std::string& url, const std::string& jarFolder, PathRules rules) {
    std::string::size_type colon = url.find(':'), slash = url.find('/');
    std::string path = url;
    if (colon != std::string::npos && colon < slash) {
        std::string scheme = url.substr(0, colon);
        for (size_t i = 0; i < scheme.size(); ++i) scheme[i] = static_cast<char>(std::tolower(scheme[i]));
        if (scheme != "file") return std::string();
        path = url.substr(colon + 1);
        if (path.compare(0, 3, "///") == 0) path.erase(0, 2);
        else if (path.compare(0, 2, "//") == 0) return std::string();  // another host's file
    }
    path = percentDecoded(path);
    bool absolute = !path.empty() && path[0] == '/';
    if (rules == WindowsPaths) {
        // file:/C:/lib/x.jar is C:\lib\x.jar.
        if (absolute && path.size() > 2 && path[2] == ':') path.erase(0, 1);
        for (size_t i = 0; i < path.size(); ++i)
            if (path[i] == '/') path[i] = '\\';
    }
    return absolute ? path : jarFolder + path;
}

std::vector<std::string> manifestClassPath(const std::string& manifest, const std::string& jarFolder,
                                           PathRules rules) {
    // The main section ends at the first empty line; a line that begins with
    // a blank goes on with the one before.
    std::string value;
    bool inClassPath = false;
    std::string::size_type at = 0;
    while (at < manifest.size()) {
        std::string::size_type end = manifest.find_first_of("\r\n", at);
        if (end == std::string::npos) end = manifest.size();
        std::string line = manifest.substr(at, end - at);
        at = end + (manifest.compare(end, 2, "\r\n") == 0 ? 2 : 1);
        if (line.empty()) break;
        if (line[0] == ' ') {
            if (inClassPath) value += line.substr(1);
            continue;
        }
        std::string::size_type colon = line.find(": ");
        std::string name = line.substr(0, colon);
        for (size_t i = 0; i < name.size(); ++i) name[i] = static_cast<char>(std::tolower(name[i]));
        inClassPath = colon != std::string::npos && name == "class-path";
        if (inClassPath) value = line.substr(colon + 2);
    }
    std::vector<std::string> files, urls = splitAt(value, ' ');
    for (size_t i = 0; i < urls.size(); ++i) {
        std::string path = urls[i].empty() ? std::string() : classPathUrlPath(urls[i], jarFolder, rules);
        if (!path.empty()) files.push_back(path);
    }
    return files;
}

std::string classArchiveRecordChange(const std::string& stored, const std::string& current) {
    if (stored.empty()) return "no record of what it was made for";
    std::map<std::string, std::string> before = recordLines(stored), now = recordLines(current);
    for (std::map<std::string, std::string>::const_iterator i = now.begin(); i != now.end(); ++i) {
        std::map<std::string, std::string>::const_iterator was = before.find(i->first);
        if (was == before.end()) return i->first + " is new";
        if (was->second != i->second) return i->first + (i->second == "missing" ? " is gone" : " changed");
    }
    for (std::map<std::string, std::string>::const_iterator i = before.begin(); i != before.end(); ++i)
        if (now.find(i->first) == now.end()) return i->first + " is no longer used";
    return std::string();
}

std::vector<std::string> classPathFiles(const std::string& cp, const std::string& jar, char listSeparator,
                                        std::vector<std::string> (*jarsIn)(const std::string& dir)) {
    std::vector<std::string> files;
    if (!jar.empty()) {
        files.push_back(jar);
        return files;
    }
    std::vector<std::string> entries = splitAt(cp, listSeparator);
    for (size_t i = 0; i < entries.size(); ++i) {
        const std::string& entry = entries[i];
        if (entry.empty()) continue;
        char last = entry[entry.size() - 1];
        bool wildcard = last == '*' && (entry.size() == 1 || entry[entry.size() - 2] == '/' ||
                                        entry[entry.size() - 2] == '\\');
        if (!wildcard) {
            files.push_back(entry);
            continue;
        }
        std::vector<std::string> jars = jarsIn(entry.substr(0, entry.size() - 1));
        files.insert(files.end(), jars.begin(), jars.end());
    }
    return files;
}

// The application's files are found from its own folder, where it runs.
static std::string inAppDir(const std::string& path) {
    return path.empty() || isAbsolutePath(path, nativePathRules) ? path : appDir + path;
}

// A folder of the class path, as the application finds it from its folder.
static std::vector<std::string> jarsInAppDir(const std::string& dir) {
    return jarsIn(inAppDir(dir.empty() ? "./" : dir));
}

static std::string currentRecord(const std::vector<std::string>& files, const std::vector<std::string>& named) {
    std::vector<FileFacts> fileNow, namedNow;
    for (size_t i = 0; i < files.size(); ++i) fileNow.push_back(fileFacts(files[i]));
    for (size_t i = 0; i < named.size(); ++i) namedNow.push_back(fileFacts(named[i]));
    return classArchiveRecord(fileNow, namedNow);
}

// What the manifests of files name, and theirs in turn, as Java follows
// them, each once. Read in the background only: a start takes them from
// the record, as they change only with the jars that name them.
static std::vector<std::string> namedByManifests(const std::vector<std::string>& files) {
    std::set<std::string> seen(files.begin(), files.end());
    std::vector<std::string> named, queue(files);
    for (size_t i = 0; i < queue.size() && queue.size() < 10000; ++i) {
        std::vector<std::string> more = manifestClassPath(jarManifest(queue[i]), folderOf(queue[i]), nativePathRules);
        for (size_t k = 0; k < more.size(); ++k) {
            if (!seen.insert(more[k]).second) continue;
            named.push_back(more[k]);
            queue.push_back(more[k]);
        }
    }
    return named;
}

// A record or a job is a few hundred lines: one of over 1 MiB is none.
static const size_t OWN_FILE_LIMIT = 1024 * 1024;

// One of the launcher's own files beside the archive, which others may
// have planted things in place of: empty when it is missing, and when it is
// no regular file of ours, with a line that says so.
static std::string fileText(const std::string& path) {
    std::string text, why;
    if (readOwnFile(path, OWN_FILE_LIMIT, text, why) || why.empty()) return text;
    writeLine(stdout, "classArchiveFileRefused=" + path + ": " + why);
    return std::string();
}

static bool writeText(const std::string& path, const std::string& text) {
    std::string why;
    if (writeOwnFile(path, text, why)) return true;
    writeLine(stdout, "classArchiveFileRefused=" + path + ": " + why);
    return false;
}

// Whether the archive's volume has room for what = the recording or the
// making; a line says why not.
static bool roomFor(const std::string& archive, unsigned long long need, const std::string& what) {
    unsigned long long free = freeSpaceIn(folderOf(archive));
    if (free >= need) return true;
    writeLine(stdout, "classArchive=" + archive + ": none this time: " + std::to_string(free >> 20) +
                          " MiB free on its disk, where " + what + " wants " + std::to_string(need >> 20) + " MiB");
    return false;
}

// What makings and recordings that have ended left beside the archive (a
// killed dump's output holds 30 MiB): removed at each start.
static void removeLeftovers() {
    std::string folder = folderOf(classArchive), name = classArchive.substr(folder.size());
    std::vector<std::string> names = namesStartingWith(folder, name + ".");
    for (size_t i = 0; i < names.size(); ++i) {
        unsigned long pid = leftoverProcess(names[i], name);
        if (pid == 0 || pid == processId() || processRunning(pid)) continue;
        if (removeFile(folder + names[i])) writeLine(stdout, "classArchiveLeftoverRemoved=" + folder + names[i]);
    }
}

void placeClassArchive(const std::string& javaPath, const std::string& jvmOptions, const std::string& cp,
                       const std::string& jar) {
    JavaRuntime runtime;
    int version = configuredJavaRuntime(javaPath, runtime) ? runtime.version : 0;
    if (version == 0) {
        writeLine(stdout, "classArchive=none: the version of " + javaPath + " cannot be read from its release file");
        return;
    }
    if (version < 13) {
        writeLine(stdout, "classArchive=none: Java " + std::to_string(version) +
                              " keeps no archive of an application's classes; 13 or later does");
        return;
    }
    // Beside the application, where Java can write; else in the user's own
    // folder, as for an application in Program Files.
    std::string folder = appDir;
    bool inUserFolder = !folderWritable(folder);
    if (inUserFolder) folder = userCacheFolder(launcherName(exeFileName));
    if (folder.empty()) {
        writeLine(stdout, "classArchive=none: neither the application's folder nor the user's can be written");
        return;
    }
    classArchive = folder + classArchiveName(exeFileName, appDir, inUserFolder, version, jvmOptions);
    classArchiveJava = version;
    archiveJava = runtime.executable;
    archiveClassPath = jar.empty() ? cp : jar;
    // The JVM ignores an archive made for another runtime or another jar,
    // and would never make a new one: what it was made for is kept beside it.
    std::string real = resolvedProgram(runtime.executable);
    archiveFiles.assign(1, real);
    archiveFiles.push_back(javaHomeOf(real) + "release");
    char listSeparator = nativePathRules == WindowsPaths ? ';' : ':';
    std::vector<std::string> files = classPathFiles(cp, jar, listSeparator, jarsInAppDir);
    for (size_t i = 0; i < files.size(); ++i) archiveFiles.push_back(inAppDir(files[i]));

    removeLeftovers();
    if (!archiveThere(classArchive)) return;
    std::string stored = fileText(recordPathOf(classArchive));
    archiveNamed = namedInRecord(stored);
    std::string change = classArchiveRecordChange(stored, currentRecord(archiveFiles, archiveNamed));
    if (change.empty()) return;
    writeLine(stdout, "classArchiveStale=" + classArchive + ": " + change);
    removeClassArchive();
}

void removeClassArchive() {
    if (!archiveThere(classArchive)) return;
    // The JVM makes its archives read-only.
    if (removeFile(classArchive)) {
        removeFile(recordPathOf(classArchive));
        writeLine(stdout, "classArchiveRemoved=" + classArchive);
    } else {
        writeLine(stdout, "classArchiveNotRemoved=" + classArchive);
    }
}

std::string classArchiveRunOptions() {
    if (classArchive.empty()) return std::string();
    writeText(startMarkPathOf(classArchive), std::to_string(processId()));
    if (archiveThere(classArchive)) {
        writeLine(stdout, "classArchive=" + classArchive + ": used");
        return classArchiveOptions(classArchiveJava, classArchive, true, "");
    }
    // A file of our own for the list: the JVM then never has to say that it
    // could not make one. Each start has its own, as two may run at once.
    if (!roomFor(classArchive, RECORDING_SPACE, "recording")) return std::string();
    classList = classArchive + "." + std::to_string(processId()) + ".classlist";
    if (!writeText(classList, "")) {
        writeLine(stdout, "classArchive=" + classArchive + ": none this time: no list of classes can be made beside it");
        classList.clear();
        return std::string();
    }
    writeLine(stdout, "classArchive=" + classArchive + ": recording the classes, to make it after the application ends");
    return classArchiveOptions(classArchiveJava, classArchive, false, classList);
}

void startClassArchiveMaker() {
    if (classList.empty()) return;
    std::string list = classList;
    classList.clear();
    // An application that never got to run (the stand-in of a test, a JVM
    // that did not start) recorded nothing to make an archive of.
    FileFacts listed = fileFacts(list);
    if (!listed.exists || listed.size == 0 || archiveThere(classArchive)) {
        removeFile(list);
        return;
    }
    std::string job = classArchive + "." + std::to_string(processId()) + ".job";
    std::string text = "java=" + archiveJava + "\nversion=" + std::to_string(classArchiveJava) + "\ndir=" + appDir +
                       "\nclasslist=" + list + "\narchive=" + classArchive + "\nclasspath=" + archiveClassPath + "\n";
    bool plain = !hasControlCharacter(archiveJava + appDir + classArchive + archiveClassPath);
    for (size_t i = 0; i < archiveFiles.size(); ++i) {
        plain = plain && !hasControlCharacter(archiveFiles[i]);
        text += "file=" + archiveFiles[i] + "\n";
    }
    // A name with a line break would add a line of its own to the job.
    if (!plain) {
        writeLine(stdout, "classArchiveNotMade=" + classArchive + ": a file name holds a control character");
        removeFile(list);
        return;
    }
    std::string why = writeText(job, text) ? startSelfInBackground(JOB_VARIABLE, job, appDir)
                                           : "its job cannot be written beside it";
    if (why.empty()) {
        writeLine(stdout, "classArchiveMaking=" + classArchive);
        return;
    }
    writeLine(stdout, "classArchiveNotMade=" + classArchive + ": " + why);
    removeFile(job);
    removeFile(list);
}

// The making's: the start mark it watches, and its text as last seen.
static std::string startMarkPath, startMark;

static bool startCame() {
    std::string now = fileText(startMarkPath);
    bool came = now != startMark;
    startMark = now;
    return came;
}

// How long no start must have come before the making begins: after the
// application's end, and after a start, long enough for its JVM to settle.
static const int QUIET_AFTER_END_MS = 2000, QUIET_AFTER_START_MS = 10000;

// Measured by the clock: a sleep lasts one or two ticks of the system's.
static void waitForNoStart(int ms) {
    long long since = steadyMilliseconds();
    while (steadyMilliseconds() - since < ms) {
        sleepMilliseconds(QUIET_POLL_MS);
        if (!startCame()) continue;
        since = steadyMilliseconds();
        ms = QUIET_AFTER_START_MS;
    }
}

bool classArchiveJobGiven() {
    const char* job = std::getenv(JOB_VARIABLE);
    return job != NULL && job[0] != '\0';
}

int runClassArchiveJob() {
    const char* job = std::getenv(JOB_VARIABLE);
    if (job == NULL || job[0] == '\0') return -1;
    // Only a job that this launcher's making wrote is run, and removed: the
    // variable alone could name any file, and the folder may hold others'.
    std::string jobPath = job, text;
    std::vector<std::string> folders(1, appDir);
    folders.push_back(userCacheFolder(launcherName(exeFileName)));
    std::string fault = classArchiveJobPlaceFault(jobPath, folders, launcherName(exeFileName));
    if (fault.empty()) {
        // In its place, it is ours to remove, whatever it holds.
        if (!readOwnFile(jobPath, OWN_FILE_LIMIT, text, fault, true)) fault = fault.empty() ? "it is missing" : fault;
        else fault = classArchiveJobFault(jobPath, text, folders, launcherName(exeFileName), appDir);
        removeFile(jobPath);
    }
    if (!fault.empty()) {
        writeLine(stdout, "classArchiveJobRefused=" + jobPath + ": " + fault);
        return 1;
    }
    std::map<std::string, std::string> values;
    std::vector<std::string> files;
    KeyedLines lines = keyedLines(text, '=');
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].first == "file") files.push_back(lines[i].second);
        else values[lines[i].first] = lines[i].second;
    }
    std::string archive = values["archive"], list = values["classlist"];
    // The list is this process's from now on: a start that clears away
    // what ended makings left finds its owner running.
    std::string ownList = archive + "." + std::to_string(processId()) + ".classlist";
    unsigned long renameError = 0;
    if (replaceFile(list, ownList, renameError) != Replaced) {
        removeFile(list);
        return 1;
    }
    list = ownList;
    // What it is made for, as it is before the making: a file that changes
    // meanwhile makes the record differ, and the next start makes it anew.
    std::string record = currentRecord(files, namedByManifests(files));
    // Under a name of its own, renamed into place when whole: no start
    // ever maps half an archive, and two makers at once leave one.
    std::string part = archive + "." + std::to_string(processId()) + ".part";
    std::string command = classArchiveDumpCommand(values["java"], std::atoi(values["version"].c_str()), list, part,
                                                  values["classpath"]);
    // Even at the lowest priority a JVM beside a starting one slows it by
    // half on two processors: a start of the application goes first, the
    // making waits until none has come for a while, and one that comes
    // meanwhile ends it, to begin again later.
    startMarkPath = startMarkPathOf(archive);
    startMark = fileText(startMarkPath);
    int made = RUN_GAVE_WAY;
    for (int attempt = 0; attempt < 3 && made == RUN_GAVE_WAY; ++attempt) {
        waitForNoStart(attempt == 0 ? QUIET_AFTER_END_MS : QUIET_AFTER_START_MS);
        if (archiveThere(archive)) break;  // made meanwhile by another start's making
        if (!roomFor(archive, MAKING_SPACE, "the making")) break;
        removeFile(part);  // the JVM leaves a killed dump's output read-only
        made = runQuietly(values["java"], command, values["dir"], startCame);
    }
    // The archive before its record: a start between the two, or a record
    // that cannot be put in place, finds the archive stale and makes it
    // anew, never an old archive under a new record.
    unsigned long error = 0;
    bool done = made == 0 && fileFacts(part).size > 0 && writeText(part + ".record", record) &&
                replaceFile(part, archive, error) == Replaced &&
                replaceFile(part + ".record", recordPathOf(archive), error) == Replaced;
    if (!done) removeFile(part);
    removeFile(part + ".record");
    removeFile(list);
    return done ? 0 : 1;
}
