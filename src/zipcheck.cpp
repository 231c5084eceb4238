#include "zipcheck.h"

#include <algorithm>
#include <vector>

#include "baseutil.h"

namespace {

typedef unsigned long long u64;

const unsigned long END_SIG = 0x06054b50, END64_SIG = 0x06064b50, LOCATOR64_SIG = 0x07064b50,
                    CENTRAL_SIG = 0x02014b50, LOCAL_SIG = 0x04034b50;
const unsigned END_SIZE = 22, LOCATOR64_SIZE = 20, END64_SIZE = 56, CENTRAL_SIZE = 46, LOCAL_SIZE = 30;
const unsigned long MAX_COMMENT = 0xFFFF;

unsigned le16(const unsigned char* p) { return p[0] | (p[1] << 8); }
unsigned long le32(const unsigned char* p) {
    return static_cast<unsigned long>(le16(p)) | (static_cast<unsigned long>(le16(p + 2)) << 16);
}
u64 le64(const unsigned char* p) { return le32(p) | (static_cast<u64>(le32(p + 4)) << 32); }

// Reads through a window, so that the central directory's entries cost one
// read for many.
struct Source {
    u64 size;
    ReadAtFunction readAt;
    void* handle;
    unsigned long windowSize;
    std::vector<unsigned char> window;
    u64 windowStart;
    unsigned long filled;  // bytes of the window read from windowStart
};

// A pointer to len bytes at offset, valid until the next call; NULL when
// they do not lie inside the source or cannot be read.
const unsigned char* bytesAt(Source& s, u64 offset, unsigned long len) {
    if (offset > s.size || len > s.size - offset) return NULL;
    if (offset >= s.windowStart && offset - s.windowStart + len <= s.filled)
        return &s.window[offset - s.windowStart];
    unsigned long want = len > s.windowSize ? len : s.windowSize;
    if (want > s.size - offset) want = static_cast<unsigned long>(s.size - offset);
    if (s.window.size() < want) s.window.resize(want);
    long got = s.readAt(s.handle, offset, &s.window[0], want);
    s.windowStart = offset;
    s.filled = got < 0 ? 0 : static_cast<unsigned long>(got);
    return s.filled >= len ? &s.window[0] : NULL;
}

// The last end record whose comment fits in the file: its offset, or
// size when there is none.
u64 findEndRecord(Source& s) {
    if (s.size < END_SIZE) return s.size;
    u64 first = s.size - END_SIZE;
    u64 last = first > MAX_COMMENT ? first - MAX_COMMENT : 0;
    const unsigned char* tail = bytesAt(s, last, static_cast<unsigned long>(s.size - last));
    if (tail == NULL) return s.size;
    for (u64 at = first + 1; at-- > last;) {
        const unsigned char* p = tail + (at - last);
        if (le32(p) == END_SIG && at + END_SIZE + le16(p + 20) <= s.size) return at;
    }
    return s.size;
}

// The local header offset of a central entry whose 32-bit field is
// saturated comes from its Zip64 extra field, after the sizes that are
// saturated too. False when the field is missing; extra fields laid out
// otherwise matter only then.
bool zip64Offset(const unsigned char* entry, u64& offset, u64& compressed) {
    unsigned nameLen = le16(entry + 28), extraLen = le16(entry + 30);
    const unsigned char* extra = entry + CENTRAL_SIZE + nameLen;
    bool needCompressed = le32(entry + 20) == 0xFFFFFFFF, needUncompressed = le32(entry + 24) == 0xFFFFFFFF;
    bool needOffset = le32(entry + 42) == 0xFFFFFFFF;
    for (unsigned at = 0; at + 4 <= extraLen;) {
        unsigned id = le16(extra + at), len = le16(extra + at + 2);
        if (at + 4 + len > extraLen) break;
        if (id == 0x0001) {
            unsigned field = at + 4, end = at + 4 + len;
            if (needUncompressed) field += 8;
            if (needCompressed) {
                if (field + 8 > end) return false;
                compressed = le64(extra + field);
                field += 8;
            }
            if (needOffset) {
                if (field + 8 > end) return false;
                offset = le64(extra + field);
            }
            return true;
        }
        at += 4 + len;
    }
    return !needOffset && !needCompressed;
}

struct Local {
    u64 offset;      // of the local header
    u64 compressed;  // size of the entry's data
};
bool byOffset(const Local& a, const Local& b) { return a.offset < b.offset; }

// A read costs a system call, about as much as copying 10 KiB more (2 us
// against 0.16 us per KiB, measured): headers that lie closer together are
// read in one piece, in pieces that stay in the cache.
const u64 JOIN_GAP = 16 * 1024, CHUNK = 64 * 1024;

// Why a local header, or the data after it, is not where the central
// directory says; empty when all are.
std::string localHeaderFault(Source& s, std::vector<Local>& locals, u64 centralOffset) {
    if (!std::is_sorted(locals.begin(), locals.end(), byOffset)) std::sort(locals.begin(), locals.end(), byOffset);
    std::vector<unsigned char> chunk;
    for (size_t i = 0; i < locals.size();) {
        u64 start = locals[i].offset, end = start + LOCAL_SIZE;
        size_t last = i + 1;
        while (last < locals.size() && locals[last].offset <= end + JOIN_GAP &&
               locals[last].offset + LOCAL_SIZE - start <= CHUNK)
            end = locals[last++].offset + LOCAL_SIZE;
        if (chunk.size() < end - start) chunk.resize(static_cast<size_t>(end - start));
        long got = s.readAt(s.handle, start, &chunk[0], static_cast<unsigned long>(end - start));
        if (got < 0 || static_cast<u64>(got) != end - start) return "an entry's local header cannot be read";
        for (; i < last; ++i) {
            const unsigned char* h = &chunk[static_cast<size_t>(locals[i].offset - start)];
            if (le32(h) != LOCAL_SIG) return "an entry's local header is missing";
            u64 dataStart = locals[i].offset + LOCAL_SIZE + le16(h + 26) + le16(h + 28);
            if (dataStart > centralOffset || locals[i].compressed > centralOffset - dataStart)
                return "an entry's data runs past the central directory";
        }
    }
    return "";
}

}  // namespace

std::string zipArchiveFault(u64 size, ReadAtFunction readAt, void* handle) {
    Source s = {size, readAt, handle, 256 * 1024, std::vector<unsigned char>(), 0, 0};
    u64 end = findEndRecord(s);
    if (end == size) return "no end record of a zip archive";
    const unsigned char* p = bytesAt(s, end, END_SIZE);
    if (p == NULL) return "the end record cannot be read";
    if (le16(p + 4) != 0 || le16(p + 6) != 0) return "the archive spans several disks";
    u64 entries = le16(p + 10), centralSize = le32(p + 12), centralOffset = le32(p + 16);
    u64 centralLimit = end;  // the central directory ends before its end record

    // Zip64: the locator stands right before the end record and names the
    // Zip64 end record, which holds the full counts and offsets.
    const unsigned char* locator = end >= LOCATOR64_SIZE ? bytesAt(s, end - LOCATOR64_SIZE, LOCATOR64_SIZE) : NULL;
    bool zip64 = locator != NULL && le32(locator) == LOCATOR64_SIG;
    if (zip64) {
        u64 end64 = le64(locator + 8);
        if (end64 > end - LOCATOR64_SIZE || end - LOCATOR64_SIZE - end64 < END64_SIZE)
            return "the Zip64 end record lies outside the archive";
        const unsigned char* q = bytesAt(s, end64, END64_SIZE);
        if (q == NULL || le32(q) != END64_SIG) return "no Zip64 end record where its locator points";
        entries = le64(q + 32);
        centralSize = le64(q + 40);
        centralOffset = le64(q + 48);
        centralLimit = end64;
    }
    if (entries == 0) return "the archive holds no entries";
    if (centralOffset > centralLimit || centralSize > centralLimit - centralOffset)
        return "the central directory lies outside the archive";

    // Every entry of the central directory, and the local header it names.
    std::vector<Local> locals;
    u64 counted = 0;
    for (u64 at = centralOffset; at < centralOffset + centralSize; ++counted) {
        u64 left = centralOffset + centralSize - at;
        const unsigned char* e = left >= CENTRAL_SIZE ? bytesAt(s, at, CENTRAL_SIZE) : NULL;
        if (e == NULL || le32(e) != CENTRAL_SIG) return "a central directory entry is damaged";
        unsigned long entrySize = CENTRAL_SIZE + le16(e + 28) + le16(e + 30) + le16(e + 32);
        if (entrySize > left) return "a central directory entry runs past the directory";
        e = bytesAt(s, at, entrySize);
        if (e == NULL) return "a central directory entry cannot be read";
        u64 local = le32(e + 42), compressed = le32(e + 20);
        if (!zip64Offset(e, local, compressed)) return "an entry lacks its Zip64 sizes";
        at += entrySize;
        if (local > centralOffset || centralOffset - local < LOCAL_SIZE) return "an entry's local header is missing";
        Local l = {local, compressed};
        locals.push_back(l);
    }
    // Without Zip64 the count has 16 bits: a larger archive wraps it.
    if ((zip64 ? counted : counted & 0xFFFF) != entries)
        return "the central directory holds another count of entries than its end record says";
    return localHeaderFault(s, locals, centralOffset);
}

std::string zipFileFault(const std::string& path) {
    u64 size = 0;
    void* file = openFileForReading(path, size);
    if (file == NULL) return "it cannot be opened";
    std::string fault = zipArchiveFault(size, readFileAt, file);
    closeFileForReading(file);
    return fault;
}
