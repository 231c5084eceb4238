#include "baseutil.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

std::string Replace(std::string src, std::string str1, std::string str2) {
    if (str1.empty()) return src;  // would match everywhere, for ever
    std::string::size_type pos = src.find(str1);
    while (pos != std::string::npos) {
        src.replace(pos, str1.size(), str2);
        pos = src.find(str1, pos + str2.size());
    }
    return src;
}

static OutputWatcher outputWatcher = {NULL, NULL};

void watchOutput(const OutputWatcher& watcher) {
    outputWatcher = watcher;
}

void tellOutputWatcher(const std::string& text, bool utf8) {
    if (outputWatcher.line != NULL) outputWatcher.line(text, utf8);
}

std::string messageFooter() {
    return outputWatcher.footer != NULL ? outputWatcher.footer() : std::string();
}

std::vector<std::string> splitAt(const std::string& text, char separator) {
    std::vector<std::string> pieces;
    std::string::size_type at = 0;
    for (;;) {
        std::string::size_type end = text.find(separator, at);
        if (end == std::string::npos) break;
        pieces.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    pieces.push_back(text.substr(at));
    return pieces;
}

void writeLine(std::FILE* stream, const std::string& text) {
    tellOutputWatcher(text, false);
    // Standard output stays in its buffer until its order against something
    // else could show: a line on standard error, a message box, a child
    // (flushOutput). A write per line cost more than the rest of the start.
    if (stream != stdout) std::fflush(stdout);
    std::fwrite(text.data(), 1, text.size(), stream);
    std::fputc('\n', stream);
    if (stream != stdout) std::fflush(stream);
}

void flushOutput() {
    std::fflush(stdout);
    std::fflush(stderr);
}

int isEmpty(std::string str) {
    return str.empty() ? 1 : 0;
}

int isTrue(std::string str) {
    if (isEmpty(str)) return 0;
    return (str == "y" || str == "Y") ? 1 : 0;
}

char* stringToChar(std::string str) {
    char* copy = new char[str.size() + 1];
    std::memcpy(copy, str.c_str(), str.size() + 1);
    return copy;
}

int createFile(char* filePath) {
    FILE* fp = std::fopen(filePath, "w");
    if (fp == NULL) {
        std::puts("cannot open");
        return 0;
    }
    std::fwrite("123456789", 1, 9, fp);
    std::fclose(fp);
    return 1;
}

void narrow(const WideText& src, std::string& dest) {
    // Zeroed, with the limit one short of the size: the buffer stays
    // terminated even when the conversion fills it or stops half way.
    std::size_t size = src.size() * MB_CUR_MAX + 1;
    std::vector<char> buf(size, '\0');
    std::wcstombs(&buf[0], src.c_str(), size - 1);
    dest.assign(&buf[0]);
}

void widen(const std::string& src, WideText& dest) {
    std::size_t size = src.size() + 1;
    std::vector<wchar_t> buf(size, L'\0');
    std::mbstowcs(&buf[0], src.c_str(), size - 1);
    dest.assign(&buf[0]);
}

Virtualization virtualization = NotVirtualized;

bool writableForJava(bool testWriteSucceeded, Virtualization state) {
    // A virtualized write "succeeds" into the user's VirtualStore, where
    // Java will not look and from where it is refused.
    return testWriteSucceeded && state != StillVirtualized;
}

bool folderWritable(const std::string& dir) {
    return writableForJava(canCreateFilesIn(dir), virtualization);
}

int pathFileExists(const std::string& path) {
    // fileExists wants a mutable copy.
    std::string copy = path;
    return fileExists(&copy[0]);
}
