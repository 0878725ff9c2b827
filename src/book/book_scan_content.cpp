// The scanner's counting over a binary element's content: the UTF-16 units a parser
// gives its text, and the Base64 characters that make its decoded size. Listing a
// large book is mostly these loops. They are written for the compiler to vectorise:
// branch-free tests, counts kept in 8-bit lanes for 255 steps at a time and then
// added up, the rare cases ("&", "=", bytes of 128 and up) found by separate passes.
#include "book/book_scan_parts.h"

#include <algorithm>
#include <cstring>

namespace vellum::scan {

namespace {

// 1 for the 64 characters of the Base64 alphabet, else 0.
inline unsigned char alphabetic(unsigned char c) {
    const unsigned char folded = c | 0x20;
    return static_cast<unsigned char>((static_cast<unsigned char>(folded - 'a') < 26) |
                                      (static_cast<unsigned char>(c - '0') < 10) | (c == '+') | (c == '/'));
}

struct RunCounts {
    std::uint64_t alphabet = 0;
    std::uint64_t pairs = 0;  // LF after CR
    unsigned char high = 0;   // every byte ORed together
};

constexpr std::size_t kLanes = 16;
constexpr std::size_t kLaneSteps = 255;  // a lane's 8-bit count holds this many

// Counts over bytes [from, to) of `p`, where p[from - 1] may be read (the caller
// gives the byte before the run its own place), with or without the alphabet.
template <bool kAlphabet>
void countBytes(const unsigned char* p, std::size_t from, std::size_t to, RunCounts& counts) {
    std::size_t i = from;
    while (to - i >= kLanes) {
        const std::size_t steps = std::min((to - i) / kLanes, kLaneSteps);
        unsigned char alphabet[kLanes] = {}, pairs[kLanes] = {}, high[kLanes] = {};
        for (std::size_t s = 0; s < steps; ++s, i += kLanes) {
            for (std::size_t k = 0; k < kLanes; ++k) {
                const unsigned char c = p[i + k];
                if constexpr (kAlphabet) alphabet[k] = static_cast<unsigned char>(alphabet[k] + alphabetic(c));
                pairs[k] = static_cast<unsigned char>(pairs[k] + ((c == '\n') & (p[i + k - 1] == '\r')));
                high[k] |= c;
            }
        }
        for (std::size_t k = 0; k < kLanes; ++k) {
            counts.alphabet += alphabet[k];
            counts.pairs += pairs[k];
            counts.high |= high[k];
        }
    }
    for (; i < to; ++i) {
        const unsigned char c = p[i];
        if constexpr (kAlphabet) counts.alphabet += alphabetic(c);
        counts.pairs += (c == '\n') & (p[i - 1] == '\r');
        counts.high |= c;
    }
}

// UTF-8 bytes that add no UTF-16 unit (continuation bytes) less those that add a
// second one (the lead byte of a four-byte sequence).
std::uint64_t unitsSaved(const unsigned char* p, std::size_t n) {
    std::uint64_t saved = 0;
    for (std::size_t i = 0; i < n; ++i) saved += ((p[i] & 0xC0) == 0x80);
    std::uint64_t doubled = 0;
    for (std::size_t i = 0; i < n; ++i) doubled += (p[i] >= 0xF0);
    return saved - doubled;
}

}  // namespace

void tallyContent(ContentTally& tally, const unsigned char* run, std::size_t n, bool utf8) {
    if (n == 0) return;
    if (!tally.reference && std::memchr(run, '&', n) != nullptr) tally.reference = true;
    std::size_t alphabetEnd = 0;
    if (!tally.padded) {
        const void* pad = std::memchr(run, '=', n);
        alphabetEnd = pad == nullptr ? n : static_cast<std::size_t>(static_cast<const unsigned char*>(pad) - run);
        tally.padded = pad != nullptr;
    }
    RunCounts counts;
    // The first byte pairs with the last of the run before; the loops start at 1.
    if (tally.endsInCr && run[0] == '\n') counts.pairs = 1;
    if (alphabetEnd > 0) counts.alphabet = alphabetic(run[0]);
    counts.high = run[0];
    countBytes<true>(run, 1, std::max<std::size_t>(alphabetEnd, 1), counts);
    countBytes<false>(run, std::max<std::size_t>(alphabetEnd, 1), n, counts);
    tally.alphabet += counts.alphabet;
    tally.units += n - counts.pairs;
    if (utf8 && (counts.high & 0x80) != 0) tally.units -= unitsSaved(run, n);
    tally.endsInCr = run[n - 1] == '\r';
}

void tallyContent(ContentTally& tally, const char16_t* run, std::size_t n) {
    if (n == 0) return;
    std::uint64_t pairs = tally.endsInCr && run[0] == u'\n' ? 1 : 0;
    std::uint64_t alphabet = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const char16_t c = run[i];
        if (c == u'&') tally.reference = true;
        if (c == u'=') tally.padded = true;
        if (!tally.padded && c < 0x80) alphabet += alphabetic(static_cast<unsigned char>(c));
        if (i > 0) pairs += c == u'\n' && run[i - 1] == u'\r';
    }
    tally.alphabet += alphabet;
    tally.units += n - pairs;
    tally.endsInCr = run[n - 1] == u'\r';
}

}  // namespace vellum::scan
