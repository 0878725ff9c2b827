// A plain Base64 codec for checking the library's, written without its tables.
#include "support/test_support.h"

namespace vellum::test {

static int valueOf(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

std::string referenceDecode(const std::string& text) {
    std::string out;
    unsigned long bits = 0;
    int count = 0;
    for (char c : text) {
        if (c == '=') break;
        int v = valueOf(c);
        if (v < 0) continue;
        bits = (bits << 6) | static_cast<unsigned>(v);
        count += 6;
        if (count >= 8) {
            count -= 8;
            out.push_back(static_cast<char>((bits >> count) & 0xFF));
        }
    }
    return out;
}

std::string referenceEncode(const std::string& bytes) {
    static const char* digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    unsigned long bits = 0;
    int count = 0;
    for (unsigned char c : bytes) {
        bits = (bits << 8) | c;
        count += 8;
        while (count >= 6) {
            count -= 6;
            out.push_back(digits[(bits >> count) & 63]);
        }
    }
    if (count > 0) out.push_back(digits[(bits << (6 - count)) & 63]);
    while (out.size() % 4 != 0) out.push_back('=');
    return out;
}

}  // namespace vellum::test
