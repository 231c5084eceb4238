#include "zipcheck.h"

#include <algorithm>
#include <string>
#include <vector>

#include "baseutil.h"
#include "inflate.h"

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

// The last end record whose comment ends exactly where the file ends, as
// Java's -jar start wants it: its offset, or size when there is none. With
// loose, the last one whose comment merely fits.
u64 findEndRecord(Source& s, bool loose) {
    if (s.size < END_SIZE) return s.size;
    u64 first = s.size - END_SIZE;
    u64 last = first > MAX_COMMENT ? first - MAX_COMMENT : 0;
    const unsigned char* tail = bytesAt(s, last, static_cast<unsigned long>(s.size - last));
    if (tail == NULL) return s.size;
    for (u64 at = first + 1; at-- > last;) {
        const unsigned char* p = tail + (at - last);
        if (le32(p) != END_SIG) continue;
        u64 end = at + END_SIZE + le16(p + 20);
        if (end == s.size || (loose && end < s.size)) return at;
    }
    return s.size;
}

// Why a central entry is one that Java refuses when it opens the archive:
// encrypted, compressed in a way it cannot read, a name or comment that is
// not UTF-8, extra fields that do not add up; empty when Java takes it.
std::string entryFault(const unsigned char* e) {
    if (le16(e + 8) & 1) return "an entry is encrypted";
    unsigned method = le16(e + 10);
    if (method != 0 && method != 8)
        return "an entry is compressed in a way Java cannot read (method " + std::to_string(method) + ")";
    unsigned nameLen = le16(e + 28), extraLen = le16(e + 30), commentLen = le16(e + 32);
    if (!validUtf8(e + CENTRAL_SIZE, nameLen) || !validUtf8(e + CENTRAL_SIZE + nameLen + extraLen, commentLen))
        return "an entry's name or comment is not UTF-8";
    const unsigned char* extra = e + CENTRAL_SIZE + nameLen;
    bool compressedSaturated = le32(e + 20) == 0xFFFFFFFF, sizeSaturated = le32(e + 24) == 0xFFFFFFFF;
    for (unsigned at = 0; at + 4 <= extraLen;) {
        unsigned id = le16(extra + at), len = le16(extra + at + 2);
        if (at + 4 + len > extraLen) return "an entry's extra field runs past its end";
        if (id == 0x0001) {
            // Zip64: 8, 16, 24 or 28 bytes, sizes that are no negative numbers.
            const unsigned char* field = extra + at + 4;
            if (len == 0 ? compressedSaturated || sizeSaturated : len != 8 && len != 16 && len != 24 && len != 28)
                return "an entry's Zip64 field has a wrong length";
            if ((sizeSaturated && len >= 8 && (field[7] & 0x80)) ||
                (compressedSaturated && len >= 16 && (field[15] & 0x80)))
                return "an entry's Zip64 size is out of range";
        }
        at += 4 + len;
    }
    return "";
}

// An entry's sizes and local header offset, each from its Zip64 extra
// field where its 32-bit field is saturated. False when one is missing.
struct EntryPlace {
    u64 size, compressed, local;
};
bool entryPlace(const unsigned char* entry, EntryPlace& place) {
    place.size = le32(entry + 24);
    place.compressed = le32(entry + 20);
    place.local = le32(entry + 42);
    u64* saturated[3];
    int count = 0;
    if (place.size == 0xFFFFFFFF) saturated[count++] = &place.size;
    if (place.compressed == 0xFFFFFFFF) saturated[count++] = &place.compressed;
    if (place.local == 0xFFFFFFFF) saturated[count++] = &place.local;
    if (count == 0) return true;
    unsigned nameLen = le16(entry + 28), extraLen = le16(entry + 30);
    const unsigned char* extra = entry + CENTRAL_SIZE + nameLen;
    for (unsigned at = 0; at + 4 <= extraLen; at += 4 + le16(extra + at + 2)) {
        if (le16(extra + at) != 0x0001) continue;
        unsigned len = le16(extra + at + 2);
        if (len < 8u * count) return false;
        for (int i = 0; i < count; ++i) *saturated[i] = le64(extra + at + 4 + 8 * i);
        return true;
    }
    return false;
}

// Whether the directory of size bytes that ends at limit, with offsets
// from limit - size - offset, begins with an entry whose local header is
// where its 32-bit offset says, with the same name length: java -jar's own
// test of where an archive is (a saturated offset fails it).
bool firstEntryFound(Source& s, u64 limit, u64 size, u64 offset) {
    if (size == 0) return true;
    if (size > limit || offset > limit - size) return false;
    u64 start = limit - size, base = start - offset;
    const unsigned char* e = bytesAt(s, start, CENTRAL_SIZE);
    if (e == NULL || le32(e) != CENTRAL_SIG) return false;
    unsigned nameLen = le16(e + 28);
    u64 local = base + le32(e + 42);
    const unsigned char* h = bytesAt(s, local, LOCAL_SIZE);
    return h != NULL && le32(h) == LOCAL_SIG && le16(h + 26) == nameLen;
}

// The one entry that java -jar reads itself, before Java's own reader.
const char MANIFEST[] = "META-INF/MANIFEST.MF";
const unsigned MANIFEST_LEN = sizeof(MANIFEST) - 1;

bool byOffset(u64 a, u64 b) { return a < b; }

// A read costs a system call, about as much as copying 10 KiB more (2 us
// against 0.16 us per KiB, measured): headers that lie closer together are
// read in one piece, in pieces that stay in the cache.
const u64 JOIN_GAP = 16 * 1024, CHUNK = 64 * 1024;

// Why a local header is not where the central directory says; empty when
// all are. Java finds an entry's data through its local header; how far
// the data runs it does not check (inflating stops where the data ends).
std::string localHeaderFault(Source& s, std::vector<u64>& locals) {
    if (!std::is_sorted(locals.begin(), locals.end(), byOffset)) std::sort(locals.begin(), locals.end(), byOffset);
    std::vector<unsigned char> chunk;
    for (size_t i = 0; i < locals.size();) {
        u64 start = locals[i], end = start + LOCAL_SIZE;
        size_t last = i + 1;
        while (last < locals.size() && locals[last] <= end + JOIN_GAP && locals[last] + LOCAL_SIZE - start <= CHUNK)
            end = locals[last++] + LOCAL_SIZE;
        if (chunk.size() < end - start) chunk.resize(static_cast<size_t>(end - start));
        long got = s.readAt(s.handle, start, &chunk[0], static_cast<unsigned long>(end - start));
        if (got < 0 || static_cast<u64>(got) != end - start) return "an entry's local header cannot be read";
        for (; i < last; ++i)
            if (le32(&chunk[static_cast<size_t>(locals[i] - start)]) != LOCAL_SIG)
                return "an entry's local header is missing";
    }
    return "";
}

// The manifest, unpacked and checked.
struct ManifestData {
    std::string text;
};

// Far more than a manifest of per-entry digests for 100,000 entries: a
// bound for a damaged one.
const u64 MANIFEST_LIMIT = 64 * 1024 * 1024;

std::string archiveFault(u64 size, ReadAtFunction readAt, void* handle, ManifestData& found) {
    Source s = {size, readAt, handle, 256 * 1024, std::vector<unsigned char>(), 0, 0};
    u64 end = findEndRecord(s, false);
    if (end == size) {
        // A download appended to an older file, a writer padding a pipe:
        // Java's -jar start refuses even one byte there.
        return findEndRecord(s, true) == size ? "no end record of a zip archive"
                                              : "bytes follow the end record of the archive";
    }
    const unsigned char* p = bytesAt(s, end, END_SIZE);
    if (p == NULL) return "the end record cannot be read";
    // Java reads the disk numbers only to match the Zip64 locator's: a
    // split archive fails on its missing parts.
    u64 entries = le16(p + 10), centralSize = le32(p + 12), centralOffset = le32(p + 16);
    unsigned endDisk = le16(p + 4);  // p holds only until the next read
    u64 centralLimit = end;  // the central directory ends right before its end record

    // Zip64, as java -jar's own reader finds it: where the directory does
    // not end right at the end record, a locator right before the end
    // record on the end record's disk, and a Zip64 end record right before
    // the locator (else where the locator points) whose values are the end
    // record's, or stand where it saturated them, and whose directory holds
    // a first entry with its local header.
    if (centralSize + centralOffset != end && end >= LOCATOR64_SIZE + END64_SIZE) {
        const unsigned char* locator = bytesAt(s, end - LOCATOR64_SIZE, LOCATOR64_SIZE);
        u64 candidates[2] = {end - LOCATOR64_SIZE - END64_SIZE, locator != NULL ? le64(locator + 8) : 0};
        bool located = locator != NULL && le32(locator) == LOCATOR64_SIG && le32(locator + 4) == endDisk;
        for (int i = 0; located && i < 2; ++i) {
            const unsigned char* q = bytesAt(s, candidates[i], END64_SIZE);
            if (q == NULL || le32(q) != END64_SIG) continue;
            u64 entries64 = le64(q + 32), size64 = le64(q + 40), offset64 = le64(q + 48);
            if ((size64 != centralSize && centralSize != 0xFFFFFFFF) ||
                (offset64 != centralOffset && centralOffset != 0xFFFFFFFF) || (entries64 != entries && entries != 0xFFFF) ||
                !firstEntryFound(s, candidates[i], size64, offset64))
                continue;
            entries = entries64;
            centralSize = size64;
            centralOffset = offset64;
            centralLimit = candidates[i];
            break;
        }
    }
    // Else java -jar looks for the directory right before the end record.
    if (centralLimit == end && !firstEntryFound(s, end, centralSize, centralOffset))
        return "the central directory is not right before its end record, where java -jar looks for it";
    // Where the central directory really is; its offset, and every local
    // header's, count from the archive's start, which data such as a start
    // script may precede (Java reads such a jar; so does this check).
    if (centralSize > centralLimit) return "the central directory lies outside the archive";
    u64 centralStart = centralLimit - centralSize;
    if (centralOffset > centralStart) return "the central directory is not where its end record says";
    u64 prefix = centralStart - centralOffset;
    if (entries > centralSize / CENTRAL_SIZE) return "the end record counts more entries than its directory holds";

    // Every entry of the central directory, and the local header it names.
    std::vector<u64> locals;
    bool manifestFound = false;
    EntryPlace manifest = {0, 0, 0};
    unsigned manifestMethod = 0;
    for (u64 at = centralStart; at < centralLimit;) {
        u64 left = centralLimit - at;
        const unsigned char* e = left >= CENTRAL_SIZE ? bytesAt(s, at, CENTRAL_SIZE) : NULL;
        if (e == NULL || le32(e) != CENTRAL_SIG) return "a central directory entry is damaged";
        unsigned long entrySize = CENTRAL_SIZE + le16(e + 28) + le16(e + 30) + le16(e + 32);
        if (entrySize > left) return "a central directory entry runs past the directory";
        e = bytesAt(s, at, entrySize);
        if (e == NULL) return "a central directory entry cannot be read";
        std::string fault = entryFault(e);
        if (!fault.empty()) return fault;
        EntryPlace place;
        if (!entryPlace(e, place)) return "an entry lacks its Zip64 sizes";
        u64 local = place.local;
        if (!manifestFound && le16(e + 28) == MANIFEST_LEN && std::equal(MANIFEST, MANIFEST + MANIFEST_LEN, e + CENTRAL_SIZE)) {
            // Java's -jar start reads the manifest with these very fields,
            // and not its Zip64 field: a saturated offset or compressed size
            // fails there (a saturated size, as Info-ZIP's -fz writes it, is
            // only the size of its buffer).
            if (le32(e + 20) == 0xFFFFFFFF || le32(e + 42) == 0xFFFFFFFF)
                return "the manifest's place or compressed size is in its Zip64 field, which java -jar does not read";
            if (le16(e + 10) == 0 && place.compressed != place.size)
                return "the manifest is stored with two different sizes";
            manifestFound = true;
            manifestMethod = le16(e + 10);
            manifest = place;
            manifest.local += prefix;
        }
        at += entrySize;
        if (local > centralOffset || centralOffset - local < LOCAL_SIZE) return "an entry's local header is missing";
        locals.push_back(prefix + local);
    }
    if (locals.empty()) return "the archive holds no entries";
    std::string fault = localHeaderFault(s, locals);
    if (!fault.empty()) return fault;
    // java -jar finds no application in a jar without its manifest, and
    // calls one whose manifest runs past its data "corrupt".
    if (!manifestFound) return "the archive has no META-INF/MANIFEST.MF, which java -jar reads first";
    const unsigned char* h = bytesAt(s, manifest.local, LOCAL_SIZE);
    u64 data = manifest.local + LOCAL_SIZE + (h != NULL ? le16(h + 26) + le16(h + 28) : 0);
    if (h == NULL || data > centralStart || manifest.compressed > centralStart - data)
        return "the manifest's data runs past the entries";
    // Java unpacks it first, and calls an archive whose manifest does not
    // unpack, or not to its size, corrupt.
    if (manifest.compressed > MANIFEST_LIMIT || manifest.size > MANIFEST_LIMIT)
        return "the manifest is larger than 64 MiB";
    std::vector<unsigned char> packed(static_cast<size_t>(manifest.compressed) + 1);
    long got = readAt(handle, data, &packed[0], static_cast<unsigned long>(manifest.compressed));
    if (got < 0 || static_cast<u64>(got) != manifest.compressed) return "the manifest cannot be read";
    std::string& text = found.text;
    if (manifestMethod == 0) text.assign(packed.begin(), packed.begin() + got);
    else if (!inflateData(&packed[0], static_cast<size_t>(got), text, static_cast<size_t>(manifest.size)))
        return "the manifest's data does not unpack";
    // (Its CRC Java does not check: a wrong one runs.)
    if (text.size() != manifest.size) return "the manifest unpacks to another size than its entry says";
    return "";
}

}  // namespace

std::string zipArchiveFault(u64 size, ReadAtFunction readAt, void* handle) {
    ManifestData manifest;
    return archiveFault(size, readAt, handle, manifest);
}

std::string zipFileFault(const std::string& path) {
    u64 size = 0;
    void* file = openFileForReading(path, size);
    if (file == NULL) return "it cannot be opened";
    std::string fault = zipArchiveFault(size, readFileAt, file);
    closeFileForReading(file);
    return fault;
}

std::string jarManifest(const std::string& path) {
    u64 size = 0;
    void* file = openFileForReading(path, size);
    if (file == NULL) return std::string();
    ManifestData manifest;
    bool whole = archiveFault(size, readFileAt, file, manifest).empty();
    closeFileForReading(file);
    return whole ? manifest.text : std::string();
}
