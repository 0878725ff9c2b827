#include "book/base64.h"

#include <algorithm>

namespace vellum {

namespace {

constexpr std::array<signed char, 256> makeBase64Values() {
    std::array<signed char, 256> values{};
    for (auto& v : values) v = kNotBase64;
    for (int i = 0; i < 64; ++i) values[static_cast<unsigned char>(kBase64Alphabet[i])] = static_cast<signed char>(i);
    values['='] = kBase64Pad;
    return values;
}

// Each character's 6-bit value already shifted to its place in a group of four, or
// kNotInGroup for anything but the 64 alphabet characters ("=" included).
constexpr std::uint32_t kNotInGroup = 0x80000000u;
constexpr auto kPlaced = [] {
    std::array<std::array<std::uint32_t, 256>, 4> placed{};
    for (int position = 0; position < 4; ++position) {
        for (auto& value : placed[position]) value = kNotInGroup;
        for (std::uint32_t i = 0; i < 64; ++i)
            placed[position][static_cast<unsigned char>(kBase64Alphabet[i])] = i << (6 * (3 - position));
    }
    return placed;
}();

void putGroup(unsigned char* out, std::uint32_t bits) {
    out[0] = static_cast<unsigned char>(bits >> 16);
    out[1] = static_cast<unsigned char>(bits >> 8);
    out[2] = static_cast<unsigned char>(bits);
}

}  // namespace

const std::array<signed char, 256> kBase64Values = makeBase64Values();

std::int64_t base64DecodedSize(std::string_view text) {
    // Counting stops at the first "="; before it, every alphabet character counts.
    // Listing a large book is mostly this loop, so it is written to vectorise:
    // no table, no early exit, a 32-bit count per block.
    std::size_t pad = text.find('=');
    if (pad != std::string_view::npos) text = text.substr(0, pad);
    std::int64_t n = 0;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text.data());
    for (std::size_t left = text.size(); left > 0;) {
        std::size_t block = std::min<std::size_t>(left, 1u << 20);
        std::uint32_t count = 0;
        for (std::size_t i = 0; i < block; ++i) {
            unsigned char c = p[i];
            unsigned char folded = c | 0x20;
            count += (static_cast<unsigned char>(folded - 'a') < 26) | (static_cast<unsigned char>(c - '0') < 10) |
                     (c == '+') | (c == '/');
        }
        n += count;
        p += block;
        left -= block;
    }
    return base64DecodedSizeOf(n);
}

void encodeBase64(const unsigned char* data, std::size_t size, char* out) {
    std::size_t i = 0;
    for (; i + 3 <= size; i += 3) {
        unsigned b0 = data[i], b1 = data[i + 1], b2 = data[i + 2];
        *out++ = kBase64Alphabet[b0 >> 2];
        *out++ = kBase64Alphabet[((b0 & 3) << 4) | (b1 >> 4)];
        *out++ = kBase64Alphabet[((b1 & 15) << 2) | (b2 >> 6)];
        *out++ = kBase64Alphabet[b2 & 63];
    }
    std::size_t tail = size - i;
    if (tail > 0) {
        unsigned b0 = data[i], b1 = tail == 2 ? data[i + 1] : 0;
        *out++ = kBase64Alphabet[b0 >> 2];
        *out++ = kBase64Alphabet[((b0 & 3) << 4) | (b1 >> 4)];
        *out++ = tail == 2 ? kBase64Alphabet[(b1 & 15) << 2] : '=';
        *out++ = '=';
    }
}

std::size_t Base64Decoder::next(unsigned char* out, std::size_t capacity) {
    const auto* p = reinterpret_cast<const unsigned char*>(p_);
    const auto* const end = reinterpret_cast<const unsigned char*>(end_);
    std::size_t used = 0;
    while (!ended_ && p < end && used + 3 <= capacity) {
        if (held_ == 0) {
            // The usual case: four alphabet characters in a row make one group.
            while (end - p >= 4 && used + 3 <= capacity) {
                std::uint32_t bits = kPlaced[0][p[0]] | kPlaced[1][p[1]] | kPlaced[2][p[2]] | kPlaced[3][p[3]];
                if (bits & kNotInGroup) break;
                putGroup(out + used, bits);
                used += 3;
                p += 4;
            }
            if (used + 3 > capacity || p >= end) break;
        }
        signed char v = kBase64Values[*p++];
        if (v == kBase64Pad) {
            ended_ = true;
            break;
        }
        if (v < 0) continue;
        group_ = (group_ << 6) | static_cast<std::uint32_t>(v);
        if (++held_ < 4) continue;
        putGroup(out + used, group_);
        used += 3;
        group_ = 0;
        held_ = 0;
    }
    p_ = reinterpret_cast<const char*>(p);
    return used;
}

std::size_t Base64Decoder::tail(unsigned char out[2]) const {
    if (held_ == 0) return 0;
    unsigned char bytes[3];
    putGroup(bytes, group_ << (6 * (4 - held_)));
    std::size_t n = static_cast<std::size_t>(held_ - 1);
    std::copy(bytes, bytes + n, out);
    return n;
}

}  // namespace vellum
