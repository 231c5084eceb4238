#include "inflate.h"

namespace {

unsigned le16(const unsigned char* p) { return p[0] | (p[1] << 8); }

// Deflate's bits come least significant first.
struct BitReader {
    const unsigned char* in;
    size_t size, pos;
    unsigned long buffer;
    int count;
    bool overrun;
};

unsigned bits(BitReader& r, int need) {
    unsigned long value = r.buffer;
    while (r.count < need) {
        if (r.pos == r.size) {
            r.overrun = true;
            return 0;
        }
        value |= static_cast<unsigned long>(r.in[r.pos++]) << r.count;
        r.count += 8;
    }
    r.buffer = value >> need;
    r.count -= need;
    return static_cast<unsigned>(value & ((1UL << need) - 1));
}

// A canonical Huffman code: how many codes of each length, and the
// symbols in code order.
const int MAX_BITS = 15;
struct Huffman {
    short count[MAX_BITS + 1];
    short symbol[288];
};

// The codes left unused: 0 for a complete code, more for an incomplete
// one, negative for one with more codes than lengths allow.
int buildHuffman(Huffman& h, const short* length, int n) {
    for (int len = 0; len <= MAX_BITS; ++len) h.count[len] = 0;
    for (int s = 0; s < n; ++s) h.count[length[s]]++;
    if (h.count[0] == n) return 0;
    int left = 1;
    for (int len = 1; len <= MAX_BITS; ++len) {
        left = left * 2 - h.count[len];
        if (left < 0) return left;
    }
    short offset[MAX_BITS + 1];
    offset[1] = 0;
    for (int len = 1; len < MAX_BITS; ++len) offset[len + 1] = offset[len] + h.count[len];
    for (int s = 0; s < n; ++s)
        if (length[s] != 0) h.symbol[offset[length[s]]++] = static_cast<short>(s);
    return left;
}

int decodeSymbol(BitReader& r, const Huffman& h) {
    int code = 0, first = 0, index = 0;
    for (int len = 1; len <= MAX_BITS; ++len) {
        code |= static_cast<int>(bits(r, 1));
        if (r.overrun) return -1;
        int count = h.count[len];
        if (code - count < first) return h.symbol[index + (code - first)];
        index += count;
        first = (first + count) << 1;
        code <<= 1;
    }
    return -1;
}

const short LENGTH_BASE[29] = {3, 4, 5, 6, 7, 8, 9, 10, 11, 13, 15, 17, 19, 23, 27,
                               31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
const short LENGTH_EXTRA[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
const unsigned short DISTANCE_BASE[30] = {1, 2, 3, 4, 5, 7, 9, 13, 17, 25, 33, 49, 65, 97, 129,
                                          193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097,
                                          6145, 8193, 12289, 16385, 24577};
const short DISTANCE_EXTRA[30] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6,
                                  6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

bool inflateBlock(BitReader& r, const Huffman& lengths, const Huffman& distances, std::string& out, size_t limit) {
    for (;;) {
        int symbol = decodeSymbol(r, lengths);
        if (symbol < 0) return false;
        if (symbol < 256) {
            if (out.size() == limit) return false;
            out += static_cast<char>(symbol);
            continue;
        }
        if (symbol == 256) return true;
        symbol -= 257;
        if (symbol >= 29) return false;
        size_t len = LENGTH_BASE[symbol] + bits(r, LENGTH_EXTRA[symbol]);
        int code = decodeSymbol(r, distances);
        if (code < 0 || code >= 30) return false;
        size_t distance = DISTANCE_BASE[code] + bits(r, DISTANCE_EXTRA[code]);
        if (r.overrun || distance > out.size() || len > limit - out.size()) return false;
        for (size_t from = out.size() - distance; len > 0; --len) out += out[from++];
    }
}

bool storedBlock(BitReader& r, std::string& out, size_t limit) {
    r.buffer = 0;  // to the next byte
    r.count = 0;
    if (r.size - r.pos < 4) return false;
    unsigned len = le16(r.in + r.pos), complement = le16(r.in + r.pos + 2);
    r.pos += 4;
    if (len != (~complement & 0xFFFF) || r.size - r.pos < len || len > limit - out.size()) return false;
    out.append(reinterpret_cast<const char*>(r.in + r.pos), len);
    r.pos += len;
    return true;
}

bool fixedBlock(BitReader& r, std::string& out, size_t limit) {
    static Huffman lengths, distances;
    static bool built = false;
    if (!built) {
        short length[288];
        for (int s = 0; s < 288; ++s) length[s] = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8;
        buildHuffman(lengths, length, 288);
        for (int s = 0; s < 30; ++s) length[s] = 5;
        buildHuffman(distances, length, 30);
        built = true;
    }
    return inflateBlock(r, lengths, distances, out, limit);
}

// As zlib has it: a code is complete, or it is one code of one bit (a
// single distance, say), or there is no code at all.
bool usableCode(const Huffman& h, int left, int n) {
    return left == 0 || (left > 0 && h.count[1] == 1 && n - h.count[0] == 1);
}

bool dynamicBlock(BitReader& r, std::string& out, size_t limit) {
    int lengthCount = static_cast<int>(bits(r, 5)) + 257, distanceCount = static_cast<int>(bits(r, 5)) + 1;
    int codeCount = static_cast<int>(bits(r, 4)) + 4;
    if (r.overrun || lengthCount > 286 || distanceCount > 30) return false;
    static const short ORDER[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
    short length[320] = {0};
    for (int i = 0; i < codeCount; ++i) length[ORDER[i]] = static_cast<short>(bits(r, 3));
    Huffman codes, lengths, distances;
    if (r.overrun || buildHuffman(codes, length, 19) != 0) return false;
    for (int at = 0; at < lengthCount + distanceCount;) {
        int symbol = decodeSymbol(r, codes);
        if (symbol < 0) return false;
        if (symbol < 16) {
            length[at++] = static_cast<short>(symbol);
            continue;
        }
        short repeated = 0;
        int times;
        if (symbol == 16) {
            if (at == 0) return false;
            repeated = length[at - 1];
            times = 3 + static_cast<int>(bits(r, 2));
        } else {
            times = symbol == 17 ? 3 + static_cast<int>(bits(r, 3)) : 11 + static_cast<int>(bits(r, 7));
        }
        if (r.overrun || at + times > lengthCount + distanceCount) return false;
        while (times-- > 0) length[at++] = repeated;
    }
    if (length[256] == 0) return false;  // no end of the block
    if (!usableCode(lengths, buildHuffman(lengths, length, lengthCount), lengthCount) ||
        !usableCode(distances, buildHuffman(distances, length + lengthCount, distanceCount), distanceCount))
        return false;
    return inflateBlock(r, lengths, distances, out, limit);
}

}  // namespace

bool inflateData(const unsigned char* in, size_t size, std::string& out, size_t limit) {
    BitReader r = {in, size, 0, 0, 0, false};
    out.clear();
    for (;;) {
        unsigned last = bits(r, 1), type = bits(r, 2);
        if (r.overrun) return false;
        bool done = type == 0 ? storedBlock(r, out, limit)
                  : type == 1 ? fixedBlock(r, out, limit)
                  : type == 2 ? dynamicBlock(r, out, limit) : false;
        if (!done || r.overrun) return false;
        if (last) return true;
    }
}
