// One running copy of the application per user session and launcher (the
// key singleInstance): the first start holds the instance through its
// whole update loop and takes requests; a second start hands its working
// folder and arguments to it and ends, and the application reads them on
// its standard input, a line each. Without the key nothing changes.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "procutil.h"

// From readBootXml: whether the key asks for it.
void placeSingleInstance(bool wanted);

// With the key: takes the instance, or hands this start's request to the
// copy that holds it (handedOver is then true and nothing else may run).
// Returns the text of the box when neither worked, else empty. A start
// that cannot make the instance at all runs as without the key, saying why.
std::string holdSingleInstance(bool& handedOver);
// The standard input for the next start of the main application: the read
// end of a pipe that the waiting requests are written into; NO_CHILD_INPUT
// without the key.
ChildInput requestInput();
// What the launch frame registers (presentChildren): which child is the
// main application, and when it has ended.
extern const ChildDesktop singleInstanceDesktop;
// Called once the update loop is over, or when nothing may run after all:
// no more requests are taken, and the next start is the first. Nothing
// where no instance is held.
void releaseSingleInstance();

// The request line: the fields (the working folder, then each argument)
// joined by tabs, a backslash, tab, line feed and carriage return within a
// field written \\, \t, \n and \r, and a line feed at its end.
std::string requestLine(const std::vector<std::string>& fields);
// The fields of one line without its line feed; false when it is no
// request: not UTF-8, an unknown escape, a carriage return, or no fields.
bool requestFields(const std::string& line, std::vector<std::string>& fields);
// The most one request, and all that wait for the application, may hold.
const size_t REQUEST_LIMIT = 64 * 1024;

// Where a write into the application's input broke off after written
// bytes of queue: how many bytes to take off its front, so that what stays
// begins with a whole line (a line cut short is lost with the application
// that would have read it).
size_t bytesDone(const std::string& queue, size_t written);

// The answer of the first copy: the process id of the application that
// will read the request (0 while the updater runs), or that it was dropped.
std::string answerLine(bool queued, unsigned long pid);
// false when answer is none of the first copy's.
bool answerOf(const std::string& answer, bool& queued, unsigned long& pid);

// The name of the instance for a launcher's path and a text that tells the
// user and session apart: the launcher's name and a hash of both.
std::string instanceName(const std::string& launcherName, const std::string& launcherPath,
                         const std::string& userKey);

// What the first copy does with the bytes a client sent: the answer to
// send back, or empty when they are no request (dropped, with a line).
// A request that would take the waiting ones over REQUEST_LIMIT is dropped
// too; the answer says so.
std::string takeRequest(const std::string& received, std::string& queue, unsigned long appPid);
// Takes back a request whose answer did not reach its start: that one has
// said it failed, and the application must not open the files after all.
void withdrawRequest(std::string& queue, const std::string& received, const std::string& answer);

// How long a second start waits for the first copy to answer.
const int ANSWER_WAIT_MS = 5000;

// Platform: the instance, claimed by this start, held by another copy, held
// by a copy that this one may not reach (another integrity level), or not
// to be had here (why says why).
enum InstanceClaim { InstanceClaimed, InstanceHeld, InstanceOtherRights, InstanceUnavailable };
InstanceClaim claimInstance(std::string& why);
// Platform: opens the channel for requests and begins to serve it; why not
// when it cannot.
std::string openRequests();
// Platform: this start's request (its working folder, then its arguments,
// each in UTF-8 as the user gave it).
std::vector<std::string> ownRequestFields();
// Platform: the one exchange with the first copy, within waitMs: its
// answer, or no channel (yet, or any more), or a channel that refuses this
// start, or no answer in time.
enum Exchange { ExchangeAnswered, ExchangeNoChannel, ExchangeRefused, ExchangeSilent };
Exchange exchangeRequest(const std::string& request, int waitMs, std::string& answer, std::string& why);
// Windows: what a failed open of the instance's mutex or pipe says, by its
// error code. Access denied: the objects are another integrity level's (a
// copy run as administrator) or another program's; busy: every instance of
// the pipe is serving, wait for one; else there is no channel (yet, or any
// more).
enum OpenFailure { OpenRefused, OpenBusy, OpenAbsent };
OpenFailure openFailureOf(unsigned long error);
const unsigned long WIN_ACCESS_DENIED = 5, WIN_PIPE_BUSY = 231;

// Platform: lets the application take the foreground and brings its main
// window forward (Windows); nothing on POSIX.
void raiseApplication(unsigned long pid);

// The messages of a second start that could not hand its request over.
extern const char* const firstCopySilentMessage;
extern const char* const firstCopyOtherRightsMessage;
extern const char* const requestRefusedMessage;
extern const char* const requestTooLongMessage;
