#include "main.h"

#include <boost/algorithm/string/replace.hpp>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "appid.h"
#include "apppaths.h"
#include "argutil.h"
#include "baseutil.h"
#include "classarchive.h"
#include "javasearch.h"
#include "jop.h"
#include "pathconst.h"
#include "procutil.h"
#include "singleinstance.h"
#include "supportlog.h"
#include "useroptions.h"
#include "xmlutil.h"
#include "zipcheck.h"

std::string javaCommandLine;
std::string javaProgram;
int passArgs = 0;
static std::string passedArguments;  // the launcher's arguments, quoted, each after a blank
std::string jar2;
int EXIT_doUpdate = 21;
static std::string javaMissing;  // the message when no Java runtime fits; empty when one does

// javaCommandLine's two parts: options of the launcher's own go between
// them, after the vendor's, so that ours hold.
static std::string javaOptions, javaClasses;

std::string javaOptionsPart(const std::string& javaPath, const std::string& Xmn, const std::string& Xms,
                            const std::string& Xmx, const std::string& jvmOptions) {
    std::string javaOption;
    if (isEmpty(Xmn) == 0) javaOption += " " + jop_Xmn + Xmn;
    if (isEmpty(Xms) == 0) javaOption += " " + jop_Xms + Xms;
    if (isEmpty(Xmx) == 0) javaOption += " " + jop_Xmx + Xmx;
    // Before -jar: after it Java would take them as the application's own.
    if (isEmpty(jvmOptions) == 0) javaOption += " " + jvmOptions;
    return javaPath + " " + javaOption;
}

std::string javaClassPart(const std::string& cp, const std::string& jar, const std::string& args,
                          const std::string& javaMainClass) {
    std::string part;
    if (isEmpty(cp) == 0) part += " -cp " + cp;
    if (isEmpty(jar) == 0) part += " -jar " + jar;
    if (isEmpty(args) == 0) part += " " + args;
    if (isEmpty(javaMainClass) == 0) part += " " + javaMainClass;
    return part;
}

std::string buildCommandLine(const std::string& javaPath, const std::string& Xmn,
                             const std::string& Xms, const std::string& Xmx,
                             const std::string& cp, const std::string& jar,
                             const std::string& args, const std::string& javaMainClass,
                             const std::string& jvmOptions) {
    return javaOptionsPart(javaPath, Xmn, Xms, Xmx, jvmOptions) + javaClassPart(cp, jar, args, javaMainClass);
}

std::string replacePlaceholders(const std::string& javaPath, const std::string& appDirValue,
                                const std::string& parentDirValue) {
    std::string path = boost::algorithm::replace_all_copy(javaPath, REP_APP_DIR, appDirValue);
    return boost::algorithm::replace_all_copy(path, REP_PARENT_DIR, parentDirValue);
}

std::string quoteJavaPath(const std::string& javaPath, int isFile) {
    bool quoted = !javaPath.empty() && javaPath[0] == '"';
    bool hasBlank = javaPath.find(' ') != std::string::npos;
    if (quoted || !hasBlank || !isFile) return javaPath;
    return "\"" + javaPath + "\"";
}

std::string bootFailureMessage(const std::string& bootXmPath) {
    // The path is in the ANSI code page, perhaps a short form of the
    // folder; the message names it as the user sees it, in UTF-8.
    return "起動定義ファイル " + pathForUser(bootXmPath) + " の解析に失敗しました。";
}

const char* const ownLocationUnknownMessage =
    "このプログラム自身の場所が分からないため、アプリケーションのフォルダが分からず、"
    "何も起動していません。システムがこのプログラム自身のパスを読めるか (Linux では "
    "/proc がマウントされ、読めるか) を確かめてから、もう一度起動してください。";

std::string folderUnusableMessage(const std::string& folderForUser) {
    return "フォルダ " + folderForUser + " の名前には、このシステムの文字コードで表せない文字があり、"
           "短い名前 (8.3 形式) もないため、起動できません。アプリケーションを英数字だけの名前の"
           "フォルダ (例: C:\\MyApp) へ移動してから、もう一度起動してください。";
}

std::string updateFailureMessage(int exitCode2) {
    return "更新で例外が発生しました。戻り値= " + std::to_string(exitCode2);
}

std::string unpassableArgumentMessage(const std::string& argument) {
    return "「" + argument + "」をアプリケーションに渡せません。"
           "名前をシステムの文字コードにある文字だけに変えてから開き直してください。";
}


void readBootXml(std::string bootXmPath) {
    boost::property_tree::ptree pt = readXmlFile(bootXmPath);
    placeSupportLog(isTrue(getXmlValue(pt, "log")) != 0);
    std::string console = getXmlValue(pt, "console");
    writeLine(stdout, "console=" + console);
    if (isTrue(console)) openConsole();

    std::string javaPath = getXmlValue(pt, jop_java);
    std::string Xmn = getXmlValue(pt, jop_Xmn);
    std::string Xms = getXmlValue(pt, jop_Xms);
    std::string Xmx = getXmlValue(pt, jop_Xmx);
    std::string cp = getXmlValue(pt, jop_cp);
    std::string jar = getXmlValue(pt, jop_jar);
    std::string args = getXmlValue(pt, jop_args);
    std::string javaMainClass = getXmlValue(pt, jop_main);
    std::string passArgsValue = getXmlValue(pt, "passArgs");
    std::string javaSearch = getXmlValue(pt, "javaSearch");
    std::string javaMinVersion = getXmlValue(pt, "javaMinVersion");
    std::string classArchiveValue = getXmlValue(pt, "classArchive");
    std::string jvmOptions = replacePlaceholders(getXmlValue(pt, jop_jvmOptions), appDir, parentDir);
    placeAppId(getXmlValue(pt, "appId"));
    readUserOptions(isTrue(getXmlValue(pt, "userOptions")) != 0);
    placeSingleInstance(isTrue(getXmlValue(pt, "singleInstance")) != 0);

    javaPath = replacePlaceholders(javaPath, appDir, parentDir);
    if (isTrue(javaSearch) || !isEmpty(javaMinVersion)) {
        int minVersion = javaMajorVersion(javaMinVersion);
        if (minVersion == 0 && !isEmpty(javaMinVersion))
            writeLine(stdout, "javaMinVersion=" + javaMinVersion + " names no version: any version fits");
        std::string chosen = chooseJavaRuntime(javaPath, isTrue(javaSearch) != 0, minVersion);
        if (chosen.empty())
            javaMissing = javaMissingMessage(pathForUser(javaPath), minVersion, getXmlValue(pt, "javaDownload"));
        else
            javaPath = chosen;
    }
    javaPath = quoteJavaPath(javaPath, pathFileExists(javaPath));

    // An archive made under other options is another file; the user's are
    // the main application's as well.
    if (isTrue(classArchiveValue)) placeClassArchive(javaPath, jvmOptions + userJavaOptions(), cp, jar);
    javaOptions = javaOptionsPart(javaPath, Xmn, Xms, Xmx, jvmOptions);
    javaClasses = javaClassPart(cp, jar, args, javaMainClass);
    javaCommandLine = javaOptions + javaClasses;
    javaProgram = programOfJavaValue(javaPath);
    jar2 = jar;
    passArgs = isTrue(passArgsValue);
}

// The command line with JVM options of the launcher's own, each after a
// blank, after the vendor's and before the class path.
static std::string withOptions(const std::string& options) {
    return javaOptions + options + javaClasses;
}

std::string mainCommandLine(const std::string& archiveOptions) {
    return withOptions(userJavaOptions() + supportLogJavaOptions() + archiveOptions) + passedArguments;
}

std::string readLauncherArguments(int argc, char** argv) {
    std::string unpassable;
    if (launcherArguments(argc, argv, passedArguments, unpassable)) return std::string();
    return unpassableArgumentMessage(unpassable);
}

void renameUpFile() {
    std::string jarFilePath = appDir + fileSep + jar2;
    writeLine(stdout, "jarFilePath=" + jarFilePath);
    std::string upFilePath = Replace(jarFilePath, ".jar", ".up");
    writeLine(stdout, "upFilePath=" + upFilePath);

    // Without ".jar" in the path there is no distinct staged file: the test
    // would find the jar itself, which must never be moved.
    int upFileExists = 0;
    if (upFilePath != jarFilePath) upFileExists = pathFileExists(upFilePath);
    writeLine(stdout, "upFileExists=" + std::to_string(upFileExists));
    if (upFileExists == 0) return;
    if (isReadOnlyFile(jarFilePath)) return;

    // An updater cut short leaves a truncated file: swapped in, it would
    // leave an application that cannot start, and so never update again.
    // Set aside, it is not taken for a staged update again.
    std::string fault = zipFileFault(upFilePath);
    if (!fault.empty()) {
        writeLine(stdout, "upFileRejected=not a whole jar: " + fault);
        std::string asidePath = upFilePath + ".bad";
        unsigned long error = 0;
        bool setAside = replaceFile(upFilePath, asidePath, error) == Replaced;
        writeLine(stdout, (setAside ? "upFileSetAside=" : "upFileNotSetAside=") + asidePath);
        return;
    }

    // On the disk before it takes the jar's name: a power loss right after
    // must leave the old jar or the whole new one, never a jar of zeroes.
    flushFileToDisk(upFilePath);
    // One step that never leaves the application without a jar.
    for (int waited = 0;;) {
        unsigned long error = 0;
        ReplaceResult result = replaceFile(upFilePath, jarFilePath, error);
        if (result == Replaced) {
            flushFolderOf(jarFilePath);
            writeLine(stdout, "remove succeed.");
            // The archive holds the old version's classes: the new one's
            // first start makes a fresh one.
            removeClassArchive();
            return;
        }
        int delay = swapRetryDelay(result, waited);
        if (delay == 0) {
            writeLine(stdout, std::string("upFileNotSwapped=") +
                                  (result == ReplaceBusy ? "held by another program" : "cannot be replaced") +
                                  " (error " + std::to_string(error) + "); both files stay for the next start");
            return;
        }
        sleepMilliseconds(delay);
        waited += delay;
    }
}

int swapRetryDelay(ReplaceResult result, int waited) {
    // A virus scanner may hold a fresh download for a moment: 50, 100, 200,
    // 400 and 800 ms, then both files stay for the next start. Access
    // denied, say, is no reason to wait: it stays so.
    if (result != ReplaceBusy || waited >= 1500) return 0;
    return waited + 50;
}

int launchJava(std::string currentDir, std::string commandLine, int doWait, ChildInput input) {
    writeLine(stdout, "currentDir=" + currentDir);
    writeLine(stdout, "javaCommandLine=" + commandLine);
    supportLogJavaStarted();
    int result = execute(javaProgram, &commandLine[0], currentDir.c_str(), doWait, input);
    supportLogJavaEnded(result, childProcessId);
    writeLine(stdout, "launchJava:retCode=" + std::to_string(result));
    if (result == 1) MessageBox2("java launch error. code=" + std::to_string(result));
    return result;
}

int launchMainApp() {
    std::string currentDir = appDir;
    // Looked at each time: an earlier run of the loop may have made it.
    return launchJava(currentDir, mainCommandLine(classArchiveRunOptions()), 1, requestInput());
}

int launchUpdater() {
    std::string currentDir = appDir;
    currentDir += "updater";
    // The documents are the application's: the updater gets none.
    return launchJava(currentDir, withOptions(supportLogJavaOptions()), 1);
}

int moduleUpdate(std::string updaterPath) {
    std::string commandLine = updaterPath;
    writeLine(stdout, "moduleUpdate#1:commandLine=" + commandLine);
    std::vector<std::string> words = splitCommandLine(commandLine);
    int result = execute(words.empty() ? std::string() : words[0], &commandLine[0], NULL, 1);
    writeLine(stdout, "moduleUpdate#2:retCode=" + std::to_string(result));
    return result;
}

void runUpdateLoop() {
    for (;;) {
        int exitCode1 = launchMainApp();
        if (exitCode1 != EXIT_doUpdate) return;
        int exitCode2 = launchUpdater();
        if (exitCode2 == 0) continue;
        std::string msg = updateFailureMessage(exitCode2);
        MessageBox2(msg);
        return;
    }
}

static int launch(int argc, char** argv);

int launcherMain(int argc, char** argv) {
    // Started again in the background to make the class archive: with the
    // launcher's own guards and paths, and nothing else of a start.
    if (classArchiveJobGiven()) {
        guardProcess();
        return setModuleFileName() == 0 ? 1 : runClassArchiveJob();
    }
    watchOutput(supportLogOutput);
    watchChildren(supportLogChildren);
    presentChildren(appIdDesktop);
    presentChildren(singleInstanceDesktop);
    beginSupportLog();
    int status = launch(argc, argv);
    endSupportLog(status);
    return status;
}

// Each stage before the swap tells the frame why nothing may run: the text
// of the one box that the frame shows (UTF-8), empty when it went well.

static std::string findOwnFolder() {
    if (setModuleFileName() != 0) return std::string();
    // Every path below would lead into the current directory: touch nothing.
    std::string folder = currentModuleDirForUser();
    if (!folder.empty()) {
        // Windows knows the folder, but it has no name that the ANSI
        // code page, and so Java, can use.
        writeLine(stderr, "the launcher's folder has no ANSI or short name: " + folder);
        return folderUnusableMessage(folder);
    }
    writeLine(stderr, "cannot find the launcher's own path");
    return ownLocationUnknownMessage;
}

static std::string readBootDefinition() {
    std::string debugFilePath = appDir;
    debugFilePath += fileSep;
    debugFilePath += "debug";
    int debugFileExists = pathFileExists(debugFilePath);
    writeLine(stdout, "debugFileExists=" + std::to_string(debugFileExists));
    if (debugFileExists != 0) openConsole();

    std::string bootXmPath = appDir;
    bootXmPath += "config";
    bootXmPath += fileSep;
    bootXmPath += "boot.xml";
    writeLine(stdout, "bootXmPath=" + bootXmPath);

    try {
        readBootXml(bootXmPath);
    } catch (const std::exception& ex) {
        writeLine(stderr, ex.what());
        return bootFailureMessage(bootXmPath);
    }
    return javaMissing;  // no runtime fits: no swap, no process
}

static int launch(int argc, char** argv) {
    bufferOutput();
    writeLine(stdout, "argc=" + std::to_string(argc));
    writeLine(stdout, std::string("argv[0]=") + (argc > 0 ? argv[0] : ""));
    guardProcess();
    prepareProcessRunner();
    std::string failure = findOwnFolder();
    if (failure.empty()) failure = readBootDefinition();
    // A second start hands its request over before anything of its own.
    bool handedOver = false;
    if (failure.empty()) failure = holdSingleInstance(handedOver);
    if (failure.empty() && passArgs && !handedOver) failure = readLauncherArguments(argc, argv);
    if (!failure.empty()) {
        releaseSingleInstance();  // while the box waits, the next start is the first
        MessageBox2(failure);
        return 1;
    }
    if (handedOver) return 0;

    renameUpFile();
    runUpdateLoop();
    releaseSingleInstance();
    releaseChildProcess();
    startClassArchiveMaker();
    return 0;
}
