#include "utility.h"

#include <boost/date_time/posix_time/posix_time.hpp>
#include <boost/interprocess/sync/file_lock.hpp>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <stdexcept>

#include "baseutil.h"

int fileLock(std::string filePath) {
    int waitSeconds = 1;
    try {
        boost::interprocess::file_lock lock(filePath.c_str());
        boost::posix_time::ptime deadline =
            boost::posix_time::second_clock::universal_time() + boost::posix_time::seconds(waitSeconds);
        if (!lock.timed_lock(deadline)) throw std::runtime_error("lock is failed.");
        std::cout << "file locked." << std::endl;
        lock.unlock();
    } catch (const std::exception& e) {
        std::cout << e.what() << std::endl;
    }
    return 0;
}

// Finds the next argument from i: sets its start and the position of the
// character that ends it (a quote, a blank or the terminator). False at the end.
static bool nextWinArg(const char* text, size_t len, size_t& i, size_t& start, size_t& end) {
    while (i < len && text[i] == ' ') ++i;
    if (i >= len) return false;
    if (text[i] == '"') {
        start = ++i;
        while (i < len && text[i] != '"') ++i;
    } else {
        start = i;
        while (i < len && text[i] != ' ') ++i;
    }
    end = i;
    i = end + 1;  // past the quote or blank; a quoted argument needs no blank after it
    return true;
}

std::vector<char*> splitWinArgs(char* cmdLine) {
    std::vector<char*> args;
    size_t len = std::strlen(cmdLine);
    size_t i = 0, start = 0, end = 0;
    // All positions are found before any is overwritten.
    std::vector<size_t> ends;
    while (nextWinArg(cmdLine, len, i, start, end)) {
        args.push_back(cmdLine + start);
        ends.push_back(end);
    }
    for (size_t k = 0; k < ends.size(); ++k) cmdLine[ends[k]] = '\0';
    return args;
}

void parseWinArg(HINSTANCE, HINSTANCE, LPSTR lpsCmdLine, int) {
    // The argument vector is never handed out: only the in-place split
    // of the caller's text is visible.
    splitWinArgs(lpsCmdLine);
}

std::string formatLocalTime(const struct tm& local) {
    char buf[128];
    std::snprintf(buf, sizeof(buf), "地方時: %4d/%2d/%2d %2d:%2d:%2d %d\n", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                  local.tm_isdst);
    return buf;
}

int getYYYYMMDDhhmmss() {
    time_t timer = time(NULL);
    struct tm* local = localtime(&timer);
    if (local != NULL) std::printf("%s", formatLocalTime(*local).c_str());
    return 0;
}

void characterCodeTest() {
    std::cout << "TEST1" << std::endl;
    std::wcout << L"\u65e5\u672c\u8a9e" << std::endl;
    std::cout << "TEST2" << std::endl;
    std::wcout << utf8ToWString("日本語").c_str() << std::endl;
    std::cout << "TEST4" << std::endl;
    std::setlocale(LC_ALL, "Japanese");
    std::printf("%s", "開発環境の設定に応じた文字列");
    std::cout << "TEST5" << std::endl;
    std::setlocale(LC_ALL, "Japanese");
    std::puts("前処理をしないと、この日本語もうまく表示できない。");
}
