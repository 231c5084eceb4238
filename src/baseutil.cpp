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

bool validUtf8(const unsigned char* p, size_t len) {
    for (size_t i = 0; i < len;) {
        unsigned char c = p[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        size_t n = c >= 0xC2 && c <= 0xDF ? 1 : c >= 0xE0 && c <= 0xEF ? 2 : c >= 0xF0 && c <= 0xF4 ? 3 : 0;
        if (n == 0 || len - i <= n) return false;
        unsigned char lo = 0x80, hi = 0xBF;
        if (c == 0xE0) lo = 0xA0;
        else if (c == 0xED) hi = 0x9F;
        else if (c == 0xF0) lo = 0x90;
        else if (c == 0xF4) hi = 0x8F;
        if (p[i + 1] < lo || p[i + 1] > hi) return false;
        for (size_t k = 2; k <= n; ++k)
            if ((p[i + k] & 0xC0) != 0x80) return false;
        i += n + 1;
    }
    return true;
}

bool hasControlCharacter(const std::string& text) {
    for (size_t i = 0; i < text.size(); ++i)
        if (static_cast<unsigned char>(text[i]) < 0x20 || text[i] == 0x7F) return true;
    return false;
}
