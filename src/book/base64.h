// Base64 as books hold it: the standard alphabet with "=" padding. Text read from a
// book may hold any other byte (white space, line breaks), which is skipped, and
// ends at the first "="; text written into a book is one unbroken line.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace vellum {

inline constexpr char kBase64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The Base64 value of each byte: 0 to 63 for the alphabet, kBase64Pad for "=",
// kNotBase64 for everything else (white space, punctuation, bytes of 128 and up).
inline constexpr signed char kBase64Pad = -2;
inline constexpr signed char kNotBase64 = -1;
extern const std::array<signed char, 256> kBase64Values;

// The bytes that `n` alphabet characters (those before the first "=") decode to: 3
// per group of four, then 0, 0, 1 or 2 for a last group of 0 to 3 characters.
constexpr std::int64_t base64DecodedSizeOf(std::int64_t n) {
    constexpr std::int64_t kTail[4] = {0, 0, 1, 2};
    return 3 * (n / 4) + kTail[n % 4];
}

// The number of bytes `text` decodes to: alphabet characters are counted up to the
// first "=", all other bytes are skipped; 3 per group of four, then 0, 0, 1 or 2
// for a last group of 0 to 3 characters. Always the bytes Base64Decoder gives.
std::int64_t base64DecodedSize(std::string_view text);

// The length of the padded encoding of `size` bytes: 4 * ceil(size / 3).
constexpr std::size_t base64EncodedLength(std::size_t size) { return (size + 2) / 3 * 4; }

// Encodes `size` bytes into `out`, which must hold base64EncodedLength(size) characters.
void encodeBase64(const unsigned char* data, std::size_t size, char* out);

// Decodes Base64 text piece by piece into the caller's blocks. The text may come in
// pieces too: a group may begin in one and end in the next.
class Base64Decoder {
public:
    Base64Decoder() = default;
    explicit Base64Decoder(std::string_view text) { more(text); }

    // The next piece of the text, once next() has used up the one before.
    void more(std::string_view text) {
        p_ = text.data();
        end_ = text.data() + text.size();
    }
    // True once a "=" was met: no text after it is decoded.
    bool ended() const { return ended_; }

    // Decodes the next complete groups of four characters into `out`, three bytes
    // each, as many as `capacity` bytes hold. The bytes written; 0 once no complete
    // group is left.
    std::size_t next(unsigned char* out, std::size_t capacity);

    // Once the text is used up (next() has answered 0, or fewer bytes than the
    // whole groups its capacity holds): the k - 1 bytes an unfinished last group of
    // k characters gives (its missing characters count as zero), written to `out`.
    std::size_t tail(unsigned char out[2]) const;

private:
    const char* p_ = nullptr;
    const char* end_ = nullptr;
    std::uint32_t group_ = 0;  // the characters held so far, 6 bits each
    int held_ = 0;
    bool ended_ = false;  // "=" met
};

}  // namespace vellum
