// A class-data archive that the launcher keeps for the main application
// (the key classArchive): the JVM maps the classes it archived instead of
// loading them again. The application's own run only records which classes
// it loads, in a file the launcher has made for it; the archive is made
// from that list after the application has ended, by the launcher started
// again in the background, in a JVM of its own whose output goes nowhere
// and whose failure only leaves no archive. So nothing of the archive ever
// reaches the application's exit code or output.
#pragma once

#include <string>
#include <vector>

#include "apppaths.h"
#include "baseutil.h"

// With the key set, from readBootXml: where the archive lives and what it
// is for (the runtime that javaPath starts, the class path of jar, else of
// cp). An archive made for anything else is removed, with a line that
// says what changed. Lines say why there is none, where there is none.
void placeClassArchive(const std::string& javaPath, const std::string& jvmOptions, const std::string& cp,
                       const std::string& jar);

// The options for the main application's next run, each after a blank:
// the archive where it is there, else a recording of the classes it loads
// where the launcher could make the file for it; with a line saying which.
std::string classArchiveRunOptions();

// After a swap: the archive holds the old version's classes.
void removeClassArchive();

// At the end of the launcher's run: when a run recorded its classes, the
// launcher starts again in the background to make the archive from them.
void startClassArchiveMaker();

// Whether the launcher was started so (LAUNCHER_CLASS_ARCHIVE_JOB names
// its job); then, once its paths are known, runClassArchiveJob makes the
// archive and returns the exit status (-1 when not started so).
bool classArchiveJobGiven();
int runClassArchiveJob();

// The options for a run of a JVM of this major version, each after a
// blank, with the JVM's archive messages off: the archive where it exists,
// else the class list to record (none when classList is empty). Empty
// below 13.
std::string classArchiveOptions(int javaVersion, const std::string& archive, bool exists,
                                const std::string& classList);

// The command line that makes the archive at output from the recorded
// class list, for the class path the application runs with; Java 25 and
// later also link the classes ahead of time.
std::string classArchiveDumpCommand(const std::string& java, int javaVersion, const std::string& classList,
                                    const std::string& output, const std::string& classPath);

// Why the job at jobPath is not where this launcher's making writes them:
// in one of folders, named ARCHIVE.PID.job after an archive of launcherName.
std::string classArchiveJobPlaceFault(const std::string& jobPath, const std::vector<std::string>& folders,
                                      const std::string& launcherName);
// Why the job at jobPath is not one that this launcher's making wrote
// (empty when it is): in one of folders (where its archives may be), named
// after its archive (ARCHIVE.PID.job, ARCHIVE after launcherName), with
// that archive and its class list (ARCHIVE.PID.classlist) beside it, the
// application's folder appDir, an absolute java, each key once and no
// control character in any value.
std::string classArchiveJobFault(const std::string& jobPath, const std::string& jobText,
                                 const std::vector<std::string>& folders, const std::string& launcherName,
                                 const std::string& appDir);

// The archive's file name: after the launcher (launcherName), and in the
// user's folder, which applications of the same name share, also after
// the application folder; with JVM options of the vendor's (jvmOptions),
// also after those, since the JVM ignores an archive made under others.
std::string classArchiveName(const std::string& exeFileName, const std::string& appDir, bool inUserFolder,
                             int javaVersion, const std::string& jvmOptions = std::string());

// The record kept beside the archive, of what it is made for: one line per
// file (the runtime's executable and release file, each jar of the class
// path), then one per jar that a manifest's Class-Path names (named), each
// with its size and time, or its absence.
std::string classArchiveRecord(const std::vector<FileFacts>& files, const std::vector<FileFacts>& named);
// The files of a record that a manifest's Class-Path named: unchanged as
// long as the jars whose manifests named them are.
std::vector<std::string> namedInRecord(const std::string& record);
// What differs between the record stored and the one of today: the first
// file that changed, came or went ("lib/a.jar changed"); empty when none.
std::string classArchiveRecordChange(const std::string& stored, const std::string& current);

// The class path the application runs with: the jar where there is one
// (java -jar ignores -cp), else each entry of cp; "dir/*" stands for the
// jars in dir, as Java expands it (jarsIn gives them).
std::vector<std::string> classPathFiles(const std::string& cp, const std::string& jar, char listSeparator,
                                        std::vector<std::string> (*jarsIn)(const std::string& dir));

// The files that the Class-Path of a jar's manifest names, as Java finds
// them: each relative URL below jarFolder (the jar's folder, with its
// separator), a file: URL where it points; URLs of other kinds and the
// sections after the main one are passed over. With rules' separators.
std::vector<std::string> manifestClassPath(const std::string& manifest, const std::string& jarFolder,
                                           PathRules rules);


// The process whose making or recording left name behind, beside the
// archive archiveName (ARCHIVE.PID.part, .part.record, .classlist, .job);
// 0 when name is no such file.
unsigned long leftoverProcess(const std::string& name, const std::string& archiveName);

// The free space that a recording (a class list of a few MiB at most) and
// a making (an archive of up to about 100 MiB, measured 30 MiB for a Swing
// application) want on the archive's volume: what they write, and as much
// again and more, so that the application's own files always find room.
const unsigned long long RECORDING_SPACE = 64ULL << 20, MAKING_SPACE = 512ULL << 20;
