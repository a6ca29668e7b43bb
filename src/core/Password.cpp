// Password unscrambling; see Password.h. The tables must stay equal to the client's: they are
// listed byte by byte in docs/file-formats.md.
#include "Password.h"

namespace pw {

namespace {

// Every character 0x21 to 0xFF once, in a fixed scrambled order.
constexpr char kTableA[] = "\x60\xAE\x44\xB1\x7B\x3A\xB8\x48\xA0\x3D\x9F\xF5\x46\x50\x98\x56"
                           "\xCC\xD1\x75\xF9\x88\x82\x6E\x4E\x7A\x2C\xBB\xD0\x3B\xEE\xC2\x2B"
                           "\x8D\xA1\x4F\xEF\xFD\x32\xC5\x52\x9E\xAC\xE4\x59\x42\x43\xF4\x64"
                           "\x36\xC7\x87\x58\xB9\x24\xE9\xDF\xF1\x9D\xC6\x86\xE3\xBA\xA4\x67"
                           "\x5D\xDC\x77\xB3\xDB\x33\xB6\x73\xBD\xD4\x90\x9A\x26\x21\x81\x38"
                           "\xB5\x72\x35\x89\x5A\xA8\xC9\x83\xCE\x2E\xFE\xBE\x6C\x96\xC1\x30"
                           "\x54\x57\x39\xD9\x69\x7F\xBF\xC0\x65\x3F\x85\x70\x74\xDA\x71\x78"
                           "\x63\xCD\xC3\xF7\x92\x2A\x3C\x4D\xE2\xE8\x28\xBC\xE6\xA5\x6A\xAD"
                           "\xC8\x7C\x4B\x23\x93\x97\x94\xD7\x47\x6D\xA2\x8F\x66\xD3\x61\x7E"
                           "\x8E\x79\xEB\x5B\x76\x8C\xF3\xCB\x8B\xEC\xFB\xAB\x53\xB0\xE5\x95"
                           "\xFC\x9B\x6B\x31\x80\x5F\xB2\xB7\x2D\xD8\xB4\xAA\x62\xD6\x5C\x3E"
                           "\xCF\xE1\x7D\xC4\xEA\x4C\xF8\xD5\xE7\x27\x41\x29\xA6\x37\xCA\x51"
                           "\xD2\xA3\x5E\x2F\xF0\xF6\x25\x55\x8A\x40\xDE\xED\xF2\xE0\x49\x45"
                           "\x4A\xDD\x68\xA7\x91\x99\x22\xFF\x6F\xA9\xFA\x84\xAF\x9C\x34";

// Only the blank, which therefore maps to itself and is also the fall-back: a scrambled text
// never gains a blank that trimming a file field would remove.
constexpr char kTableB[] = " ";

// The output for every byte, worked out once: mirrored position in table A, else in table B,
// else the first character of B. Walking each table forwards lets the last occurrence of a
// character decide; table A is walked last so that it wins over B.
struct MirrorMap {
    char out[256] = {};
};

constexpr void AddMirrors(MirrorMap& map, const char* table, size_t size) {
    for (size_t i = 0; i < size; ++i)
        map.out[static_cast<unsigned char>(table[i])] = table[size - 1 - i];
}

constexpr MirrorMap BuildMirrorMap() {
    MirrorMap map;
    for (char& c : map.out)
        c = kTableB[0];
    AddMirrors(map, kTableB, sizeof kTableB - 1);
    AddMirrors(map, kTableA, sizeof kTableA - 1);
    return map;
}

constexpr MirrorMap kMirror = BuildMirrorMap();

} // namespace

const std::string_view kPasswordTableA(kTableA, sizeof kTableA - 1);
const std::string_view kPasswordTableB(kTableB, sizeof kTableB - 1);

std::string UnscramblePassword(std::string_view text) {
    std::string result(text.size(), ' ');
    for (size_t i = 0; i < text.size(); ++i)
        result[i] = kMirror.out[static_cast<unsigned char>(text[i])];
    return result;
}

} // namespace pw
