#include "singleinstance.h"

#include <cstdio>
#include <cstdlib>

#include "baseutil.h"

const char* const firstCopySilentMessage =
    "このアプリケーションはすでに起動していますが、応答がないため、ファイルを渡せませんでした。"
    "しばらく待ってからもう一度開くか、応答しないアプリケーションを終了してから開き直してください。";
const char* const firstCopyOtherRightsMessage =
    "このアプリケーションはすでに別の権限 (管理者として実行など) で起動しているため、ファイルを渡せませんでした。"
    "そのアプリケーションを終了してから開き直してください。";
const char* const requestRefusedMessage =
    "このアプリケーションはすでに起動していますが、渡されたファイルを読み取っていないため、渡せませんでした。"
    "アプリケーションの画面を確かめてから開き直してください。";
const char* const requestTooLongMessage =
    "渡すファイルの名前が長すぎるか、Unicode で表せない文字を含むため、すでに起動しているこのアプリケーションに"
    "渡せませんでした。一度に開くファイルを減らすか、名前を変えてから開き直してください。";

static bool wanted = false;

void placeSingleInstance(bool value) {
    wanted = value;
}

// The fields are UTF-8, never the ANSI code page: no byte of a multibyte
// character is a backslash, tab or line break, so each byte test is exact.
std::string requestLine(const std::vector<std::string>& fields) {
    std::string line;
    for (size_t i = 0; i < fields.size(); ++i) {
        if (i > 0) line += '\t';
        for (size_t k = 0; k < fields[i].size(); ++k) {
            char c = fields[i][k];
            if (c == '\\') line += "\\\\";
            else if (c == '\t') line += "\\t";
            else if (c == '\n') line += "\\n";
            else if (c == '\r') line += "\\r";
            else line += c;
        }
    }
    return line + '\n';
}

bool requestFields(const std::string& line, std::vector<std::string>& fields) {
    fields.assign(1, std::string());
    if (line.empty() || !validUtf8(reinterpret_cast<const unsigned char*>(line.data()), line.size())) return false;
    for (size_t i = 0; i < line.size(); ++i) {
        char c = line[i];
        if (c == '\t') {
            fields.push_back(std::string());
        } else if (c == '\\') {
            char next = i + 1 < line.size() ? line[++i] : '\0';
            if (next == '\\') fields.back() += '\\';
            else if (next == 't') fields.back() += '\t';
            else if (next == 'n') fields.back() += '\n';
            else if (next == 'r') fields.back() += '\r';
            else return false;
        } else if (c == '\n' || c == '\r' || c == '\0') {
            return false;
        } else {
            fields.back() += c;
        }
    }
    return true;
}

size_t bytesDone(const std::string& queue, size_t written) {
    if (written == 0) return 0;
    if (written >= queue.size()) return queue.size();
    if (queue[written - 1] == '\n') return written;
    size_t end = queue.find('\n', written);
    return end == std::string::npos ? queue.size() : end + 1;
}

std::string answerLine(bool queued, unsigned long pid) {
    return queued ? "queued " + std::to_string(pid) + "\n" : std::string("dropped\n");
}

bool answerOf(const std::string& answer, bool& queued, unsigned long& pid) {
    queued = false;
    pid = 0;
    if (answer == "dropped\n") return true;
    if (answer.compare(0, 7, "queued ") != 0 || answer.size() < 9 || answer[answer.size() - 1] != '\n') return false;
    for (size_t i = 7; i + 1 < answer.size(); ++i)
        if (answer[i] < '0' || answer[i] > '9') return false;
    queued = true;
    pid = std::strtoul(answer.c_str() + 7, NULL, 10);
    return true;
}

std::string instanceName(const std::string& launcherName, const std::string& launcherPath,
                         const std::string& userKey) {
    return launcherName + hashSuffix(launcherPath) + hashSuffix(userKey);
}

OpenFailure openFailureOf(unsigned long error) {
    if (error == WIN_ACCESS_DENIED) return OpenRefused;
    return error == WIN_PIPE_BUSY ? OpenBusy : OpenAbsent;
}

std::string takeRequest(const std::string& received, std::string& queue, unsigned long appPid) {
    std::vector<std::string> fields;
    if (received.size() > REQUEST_LIMIT || received.empty() || received[received.size() - 1] != '\n' ||
        !requestFields(received.substr(0, received.size() - 1), fields)) {
        writeLine(stdout, "requestDropped=" + std::to_string(received.size()) + " bytes that are no request");
        return std::string();
    }
    writeLine(stdout, "requestReceived=" + std::to_string(fields.size() - 1) + " arguments, " +
                          std::to_string(received.size()) + " bytes");
    if (queue.size() + received.size() > REQUEST_LIMIT) {
        writeLine(stdout, "requestDropped=the application has not read the requests before it (" +
                              std::to_string(queue.size()) + " bytes)");
        return answerLine(false, 0);
    }
    queue += received;
    return answerLine(true, appPid);
}

void withdrawRequest(std::string& queue, const std::string& received, const std::string& answer) {
    if (answer.compare(0, 7, "queued ") != 0 || queue.size() < received.size() ||
        queue.compare(queue.size() - received.size(), received.size(), received) != 0)
        return;
    queue.resize(queue.size() - received.size());
    writeLine(stdout, "requestDropped=its start did not take the answer");
}

std::string holdSingleInstance(bool& handedOver) {
    handedOver = false;
    if (!wanted) return std::string();
    long long deadline = steadyMilliseconds() + ANSWER_WAIT_MS;
    std::vector<std::string> fields;  // this start's request, made once it is needed
    std::string request;
    for (;;) {
        std::string why;
        InstanceClaim claim = claimInstance(why);
        if (claim == InstanceClaimed) {
            why = openRequests();
            if (why.empty()) return std::string();
            claim = InstanceUnavailable;
        }
        if (claim == InstanceUnavailable) {
            // The application runs as it would without the key.
            writeLine(stdout, "singleInstance=not held: " + why);
            wanted = false;
            return std::string();
        }
        if (claim == InstanceOtherRights) {
            writeLine(stdout, "requestNotSent=" + why);
            return firstCopyOtherRightsMessage;
        }
        if (request.empty()) {
            fields = ownRequestFields();
            request = requestLine(fields);
            std::vector<std::string> back;
            if (request.size() > REQUEST_LIMIT || !requestFields(request.substr(0, request.size() - 1), back)) {
                writeLine(stdout, "requestNotSent=longer than " + std::to_string(REQUEST_LIMIT) +
                                      " bytes, or not Unicode");
                return requestTooLongMessage;
            }
        }
        std::string answer;
        long long left = deadline - steadyMilliseconds();
        Exchange exchange = exchangeRequest(request, left > 0 ? static_cast<int>(left) : 0, answer, why);
        bool queued = false;
        unsigned long pid = 0;
        if (exchange == ExchangeAnswered && answerOf(answer, queued, pid)) {
            writeLine(stdout, "requestSent=" + std::to_string(fields.size() - 1) + " arguments: " +
                                  (queued ? "queued for process " + std::to_string(pid) : std::string("dropped")));
            if (!queued) return requestRefusedMessage;
            raiseApplication(pid);
            handedOver = true;
            return std::string();
        }
        if (exchange == ExchangeRefused) {
            writeLine(stdout, "requestNotSent=" + why);
            return firstCopyOtherRightsMessage;
        }
        // No channel yet (the first copy is starting) or none any more (it
        // is ending): try again, perhaps as the first copy.
        if (exchange == ExchangeAnswered || steadyMilliseconds() >= deadline) {
            writeLine(stdout, "requestNotSent=no answer within " + std::to_string(ANSWER_WAIT_MS / 1000) +
                                  " s" + (why.empty() ? std::string() : ": " + why));
            return firstCopySilentMessage;
        }
        sleepMilliseconds(50);
    }
}
