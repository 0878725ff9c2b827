// Books made to hurt the reader: entity bombs, outside references, extreme sizes
// and broken text. Each must end with a clear answer (a listing, a damaged book's
// listing that a packing run refuses, or E_EOPEN / E_BAD_ARCHIVE) within bounded
// memory and time, reading no file but the book and opening no connection. On the
// native target each book is walked in a child process whose peak resident size is
// measured: it must stay within four times the book's size plus 64 MB.
#include "plugin/wcx.h"
#include "support/isolation.h"
#include "support/pack_helpers.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <map>
#include <sstream>

using namespace vellum::test;

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

// Under the sanitizer every byte costs several times as much; the largest books
// shrink by this factor there, keeping their shape.
constexpr std::size_t kShrink = kSanitized ? 10 : 1;

// The secret beside the book: Base64 of a phrase, so that wherever it might end up
// (a listing, an extracted entry, a saved book) it can be recognised.
const std::string kSecretPhrase = "VELLUM-SECRET-TOKEN!!";
const std::string kSecretBase64 = "VkVMTFVNLVNFQ1JFVC1UT0tFTiEh";

// Writes a book to disk piece by piece, so that a book of 200 MB never sits in
// the test's own memory (it would count in the child's resident size).
class BookWriter {
public:
    explicit BookWriter(const std::string& path) : file_(std::fopen(path.c_str(), "wb")) {}
    ~BookWriter() {
        if (file_ != nullptr) std::fclose(file_);
    }
    BookWriter& operator<<(const std::string& text) {
        std::fwrite(text.data(), 1, text.size(), file_);
        return *this;
    }
    void repeat(const std::string& unit, std::size_t count) {
        std::string block;
        std::size_t perBlock = std::max<std::size_t>(1, (1 << 20) / std::max<std::size_t>(unit.size(), 1));
        for (std::size_t i = 0; i < perBlock; ++i) block += unit;
        for (; count >= perBlock; count -= perBlock) *this << block;
        for (; count > 0; --count) *this << unit;
    }

private:
    std::FILE* file_;
};

// What a case's book may refer to: the folder, the secret file and a listener.
struct Setting {
    std::string folder;
    std::string secretPath;
    std::string secretUrl;
    int port = 0;
};

const std::string kHead = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n";
const std::string kRoot = "<FictionBook xmlns=\"http://www.gribuser.ru/xml/fictionbook/2.0\" "
                          "xmlns:l=\"http://www.w3.org/1999/xlink\">";
const std::string kEnd = "</FictionBook>\n";

std::string laughs(int levels) {
    std::string dtd = "<!DOCTYPE FictionBook [<!ENTITY lol0 \"QUJDQUJDQUJD\">";
    for (int i = 1; i <= levels; ++i) {
        dtd += "<!ENTITY lol" + std::to_string(i) + " \"";
        for (int k = 0; k < 10; ++k) dtd += "&lol" + std::to_string(i - 1) + ";";
        dtd += "\">";
    }
    return dtd + "]>\n";
}

std::string url(const Setting& s, const std::string& path) {
    return "http://127.0.0.1:" + std::to_string(s.port) + path;
}

// listing: the book opens and takes a replacement; damaged: it opens, showing the
// pictures its bytes hold whole, and a packing run refuses it (E_EOPEN) and leaves it
// as it is; clear: any of these or a refusal to open.
enum class Outcome { listing, damaged, clear };

struct HostileCase {
    const char* label;
    std::function<void(BookWriter&, const Setting&)> write;
    Outcome native;          // what the native target must answer; other targets: any clear answer
    long long entries;       // listed entries, files.bbs included; -1 when not fixed
    long long firstSize;     // the first entry's unpacked size; -1 when not fixed
    bool portable;           // runs under Wine too
    bool pack;               // also put "NEW" into the first element named cover.png
    long long elements = 0;  // elements beyond those the 64 MB allow for (see below)
    const char* notUnderWine = nullptr;  // why a portable case cannot run under Wine yet
};

// The book is held as a document tree, and a tree node costs far more than the
// bytes of a tiny element: a binary of four characters with two attributes and a
// line break after it is seven libxml2 structures, about 850 bytes for 60 bytes of
// book. A book made of a great many tiny elements is therefore bounded per element
// rather than per byte.
constexpr long long kBytesPerTinyElement = 1024;

bool holdsSecret(const std::string& text) {
    return text.find(kSecretPhrase) != std::string::npos || text.find(kSecretBase64) != std::string::npos;
}

// Scans a file for the secret a block at a time (a whole copy would count in the
// memory measured), and tells its size.
bool fileHoldsSecret(const std::string& path, long long& size) {
    size = 0;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return false;
    std::string window;
    std::vector<char> block(1 << 16);
    bool found = false;
    for (std::size_t n; !found && (n = std::fread(block.data(), 1, block.size(), file)) > 0;) {
        size += static_cast<long long>(n);
        window.append(block.data(), n);
        found = holdsSecret(window);
        window.erase(0, window.size() > 64 ? window.size() - 64 : 0);
    }
    std::fclose(file);
    return found;
}

// The walk a host makes, run inside the child: recognise, open, list every entry
// with a test, extract the first three and the index, close; then, when asked, a
// packing run. The answer is a line of "key=value" pairs.
std::string walkBook(const std::string& path, const std::string& folder, bool pack) {
    std::ostringstream report;
    bool leaked = false;  // the secret seen in anything the walk produced
    report << "can=" << CanYouHandleThisFile(const_cast<char*>(path.c_str()));
    tOpenArchiveData data{};
    data.ArcName = const_cast<char*>(path.c_str());
    HANDLE_WCX handle = OpenArchive(&data);
    report << " open=" << (handle != nullptr ? 0 : data.OpenResult);
    long long entries = 0, unsafe = 0, testFailures = 0, extractFailures = 0, firstSize = -1, indexBytes = -1;
    while (handle != nullptr) {
        tHeaderData header{};
        int result = ReadHeader(handle, &header);
        if (result != 0) {
            if (result != E_END_ARCHIVE) report << " readHeader=" << result;
            break;
        }
        std::string name = header.FileName;
        leaked = leaked || holdsSecret(name);
        for (char c : name)
            if (c == '/' || c == '\\' || static_cast<unsigned char>(c) < 0x20) ++unsafe;
        if (name.empty() || name == "." || name == "..") ++unsafe;
        if (entries == 0) firstSize = header.UnpSize;
        if (ProcessFile(handle, PK_TEST, nullptr, nullptr) != 0) ++testFailures;
        bool last = name == "files.bbs";
        if (entries < 3 || last) {
            std::string target = folder + "/out" + std::to_string(entries);
            if (ProcessFile(handle, PK_EXTRACT, nullptr, target.data()) != 0) {
                ++extractFailures;
            } else {
                long long size = 0;
                leaked = fileHoldsSecret(target, size) || leaked;
                if (last) indexBytes = size;
                std::remove(target.c_str());
            }
        }
        ++entries;
    }
    CloseArchive(handle);
    report << " entries=" << entries << " unsafe=" << unsafe << " testFailures=" << testFailures
           << " extractFailures=" << extractFailures << " firstSize=" << firstSize << " indexBytes=" << indexBytes;
    if (pack) {
        writeFile(folder + "/cover.png", "NEW");
        std::uint64_t before = fileHash(path);
        report << " pack=" << vellum::test::pack(path, folder + "/", {"cover.png"});
        report << " changed=" << (fileHash(path) != before ? 1 : 0);
        report << " packedLoads=" << CanYouHandleThisFile(const_cast<char*>(path.c_str()));
        long long size = 0;
        leaked = fileHoldsSecret(path, size) || leaked;
    }
    report << " leaked=" << (leaked ? 1 : 0);
    return report.str();
}

std::map<std::string, long long> parse(const std::string& report) {
    std::map<std::string, long long> values;
    std::istringstream in(report);
    std::string pair;
    while (in >> pair) {
        std::size_t eq = pair.find('=');
        if (eq != std::string::npos) values[pair.substr(0, eq)] = std::stoll(pair.substr(eq + 1));
    }
    return values;
}

std::string fileUrl(std::string path) {
    for (char& c : path)
        if (c == '\\') c = '/';
    return path.front() == '/' ? "file://" + path : "file:///" + path;
}

class HostileBooks : public testing::TestWithParam<HostileCase> {
protected:
    static void TearDownTestSuite() {
        if (table().empty()) return;
        std::printf("\n%-34s %-10s %12s %12s %8s\n", "book", "result", "size MB", "peak MB", "seconds");
        for (const std::string& row : table()) std::printf("%s\n", row.c_str());
    }
    static std::vector<std::string>& table() {
        static std::vector<std::string> rows;
        return rows;
    }
};

TEST_P(HostileBooks, EndClearlyWithinBoundedMemoryReadingOnlyTheBook) {
    const HostileCase& c = GetParam();
    if (isWine() && !c.portable) GTEST_SKIP() << "sized for the native target's memory measurement; not run under Wine";
    if (isWine() && c.notUnderWine != nullptr) GTEST_SKIP() << c.notUnderWine;

    TempDir dir;
    LoopbackListener listener;
    ASSERT_TRUE(listener.listening());
    Setting setting{dir.path().string(), dir.file("secret.txt"), "", listener.port()};
    setting.secretUrl = fileUrl(setting.secretPath);
    writeFile(setting.secretPath, kSecretBase64);
    writeFile(dir.file("secret.dtd"), "<!ENTITY z \"" + kSecretBase64 + "\">\n<!ATTLIST binary content-type CDATA \"" +
                                          kSecretBase64 + "\">\n");
    const std::string path = dir.file("book.fb2");
    {
        BookWriter writer(path);
        c.write(writer, setting);
    }
    const long long bookSize = static_cast<long long>(std::filesystem::file_size(path));
    FileWatch secretWatch(setting.secretPath);
    FileWatch dtdWatch(dir.file("secret.dtd"));

    IsolatedRun run = runIsolated([&] { return walkBook(path, dir.path().string(), c.pack); }, 120);
    ASSERT_TRUE(run.finished) << run.report;
    std::map<std::string, long long> r = parse(run.report);
    SCOPED_TRACE(run.report);

    // A clear answer, and the same from recognition and opening.
    const long long open = r["open"];
    EXPECT_TRUE(open == 0 || open == E_EOPEN || open == E_BAD_ARCHIVE);
    EXPECT_EQ(r["can"], open == 0 ? 1 : 0);
    if (!isWine() && c.native != Outcome::clear) { EXPECT_EQ(open, 0); }
    if (open == 0) {
        EXPECT_EQ(r.count("readHeader"), 0u) << "ReadHeader answers only 0 and E_END_ARCHIVE";
        EXPECT_EQ(r["unsafe"], 0) << "a listed name could leave the target folder";
        EXPECT_EQ(r["testFailures"], 0);
        EXPECT_GE(r["indexBytes"], 0) << "files.bbs was listed last and extracted";
        if (!isWine() && c.entries >= 0) { EXPECT_EQ(r["entries"], c.entries); }
        if (!isWine() && c.firstSize >= 0) { EXPECT_EQ(r["firstSize"], c.firstSize); }
    }
    if (c.pack) {
        if (!isWine() && c.native != Outcome::clear) {
            EXPECT_EQ(r["pack"], c.native == Outcome::listing ? 0 : E_EOPEN);
        }
        if (r["pack"] == 0) {
            EXPECT_EQ(r["changed"], 1);
            EXPECT_EQ(r["packedLoads"], 1) << "the saved book still loads";
        } else {
            EXPECT_EQ(r["pack"], E_EOPEN);
            EXPECT_EQ(r["changed"], 0) << "a refused run changed the book";
        }
    }

    // Nothing but the book was read, and nobody was called.
    EXPECT_EQ(r["leaked"], 0) << "the secret file's content reached the host";
    EXPECT_EQ(listener.connections(), 0) << "the library opened a network connection";
    if (secretWatch.available()) { EXPECT_FALSE(secretWatch.touched()) << "the secret file was opened"; }
    if (dtdWatch.available()) { EXPECT_FALSE(dtdWatch.touched()) << "the DTD beside the book was opened"; }

    // Bounded memory.
    const long long limit = 4 * bookSize + (64ll << 20) + c.elements * kBytesPerTinyElement;
    if (run.peakResidentBytes < 0) {
        std::printf("peak memory not measured on this target\n");
    } else if (kSanitized) {
        std::printf("peak memory not checked under AddressSanitizer (its shadow memory counts too): %lld MB\n",
                    run.peakResidentBytes >> 20);
    } else {
        EXPECT_LE(run.peakResidentBytes, limit) << "peak " << (run.peakResidentBytes >> 20) << " MB for a book of "
                                                << (bookSize >> 20) << " MB";
    }
    char row[256];
    std::snprintf(row, sizeof row, "%-34s %-10s %12.2f %12.1f %8.2f", c.label,
                  open != 0                ? (open == E_EOPEN ? "E_EOPEN" : "E_BAD_ARCH")
                  : r["pack"] == E_EOPEN ? "damaged"
                                         : "listing",
                  bookSize / 1048576.0,
                  run.peakResidentBytes < 0 ? -1.0 : run.peakResidentBytes / 1048576.0, run.seconds);
    table().push_back(row);
}

const std::string kPlainBinary = "<binary id=\"cover.png\" content-type=\"image/png\">QUJD</binary>";

INSTANTIATE_TEST_SUITE_P(
    Books, HostileBooks,
    testing::Values(
        // Entity bombs: the tree refuses them whole, whether the explosion would
        // happen while parsing (attribute values) or when the text is read (element
        // content). They open as damaged books, showing the pictures their bytes hold
        // whole: none whose content is a reference, an id as written.
        HostileCase{"BillionLaughsInBinaryText",
                    [](BookWriter& w, const Setting&) {
                        w << kHead << laughs(9) << kRoot << "<binary id=\"cover.png\">&lol9;</binary>" << kEnd;
                    },
                    Outcome::damaged, 1, 0, true, true},
        HostileCase{"BillionLaughsInAttribute",
                    [](BookWriter& w, const Setting&) {
                        w << kHead << laughs(9) << kRoot << "<binary id=\"&lol9;\">QUJD</binary>" << kPlainBinary
                          << kEnd;
                    },
                    Outcome::damaged, 3, 3, true, false},
        HostileCase{"BillionLaughsInParagraph",
                    [](BookWriter& w, const Setting&) {
                        w << kHead << laughs(9) << kRoot << "<body><p>&lol9;</p></body>" << kPlainBinary << kEnd;
                    },
                    Outcome::damaged, 2, 3, true, true},
        HostileCase{"QuadraticBlowup",
                    [](BookWriter& w, const Setting&) {
                        w << kHead << "<!DOCTYPE FictionBook [<!ENTITY big \"";
                        w.repeat("QUJD", 16384);
                        w << "\">]>\n" << kRoot << "<binary id=\"cover.png\">";
                        w.repeat("&big;", 4000);
                        w << "</binary>" << kEnd;
                    },
                    Outcome::damaged, 1, 0, true, true},
        // Entities are still expanded within the budget: 12 MB of text from 80 KB.
        HostileCase{"EntitiesWithinTheBudget",
                    [](BookWriter& w, const Setting&) {
                        w << kHead << "<!DOCTYPE FictionBook [<!ENTITY big \"";
                        w.repeat("QUJD", 16384);
                        w << "\">]>\n" << kRoot << "<binary id=\"cover.png\">";
                        w.repeat("&big;", 190);
                        w << "</binary>" << kEnd;
                    },
                    Outcome::listing, 2, 190ll * 16384 * 3, true, true},
        // Outside references: never followed.
        HostileCase{"ExternalEntityLocalFile",
                    [](BookWriter& w, const Setting& s) {
                        w << kHead << "<!DOCTYPE FictionBook [<!ENTITY ext SYSTEM \"" << s.secretUrl << "\">]>\n"
                          << kRoot << "<body><p>&ext;</p></body><binary id=\"cover.png\">&ext;</binary>" << kEnd;
                    },
                    Outcome::listing, 2, 0, true, true},
        HostileCase{"ExternalEntityBesideTheBook",
                    [](BookWriter& w, const Setting&) {
                        w << kHead << "<!DOCTYPE FictionBook [<!ENTITY ext SYSTEM \"secret.txt\">]>\n" << kRoot
                          << "<body><p>&ext;</p></body><binary id=\"cover.png\">&ext;</binary>" << kEnd;
                    },
                    Outcome::listing, 2, 0, true, true},
        HostileCase{"ExternalEntityOverTheNetwork",
                    [](BookWriter& w, const Setting& s) {
                        w << kHead << "<!DOCTYPE FictionBook [<!ENTITY ext SYSTEM \"" << url(s, "/entity")
                          << "\">]>\n" << kRoot << "<body><p>&ext;</p></body><binary id=\"cover.png\">&ext;</binary>"
                          << kEnd;
                    },
                    Outcome::listing, 2, 0, true, true},
        HostileCase{"ExternalEntityInAttribute",
                    [](BookWriter& w, const Setting&) {
                        w << kHead << "<!DOCTYPE FictionBook [<!ENTITY ext SYSTEM \"secret.txt\">]>\n" << kRoot
                          << "<binary id=\"cover.png\" content-type=\"&ext;\">QUJD</binary>" << kEnd;
                    },
                    Outcome::damaged, 2, 3, true, true},
        HostileCase{"ExternalDtdBesideTheBook",
                    [](BookWriter& w, const Setting&) {
                        w << kHead << "<!DOCTYPE FictionBook SYSTEM \"secret.dtd\">\n" << kRoot << kPlainBinary
                          << kEnd;
                    },
                    Outcome::listing, 2, 3, true, true},
        HostileCase{"ExternalDtdOverTheNetwork",
                    [](BookWriter& w, const Setting& s) {
                        w << kHead << "<!DOCTYPE FictionBook PUBLIC \"-//X//Y\" \"" << url(s, "/book.dtd") << "\">\n"
                          << kRoot << kPlainBinary << kEnd;
                    },
                    Outcome::listing, 2, 3, true, true},
        HostileCase{"ParameterEntityOverTheNetwork",
                    [](BookWriter& w, const Setting& s) {
                        w << kHead << "<!DOCTYPE FictionBook [<!ENTITY % ext SYSTEM \"" << url(s, "/pe.dtd")
                          << "\"> %ext;]>\n" << kRoot << kPlainBinary << kEnd;
                    },
                    Outcome::clear, -1, -1, true, true},
        HostileCase{"XIncludeOfTheSecret",
                    [](BookWriter& w, const Setting&) {
                        w << kHead << kRoot
                          << "<body><p><xi:include xmlns:xi=\"http://www.w3.org/2001/XInclude\" href=\"secret.txt\" "
                             "parse=\"text\"/></p></body>"
                          << kPlainBinary << kEnd;
                    },
                    Outcome::listing, 2, 3, true, true},
        // 100,000 levels of nesting, before a binary.
        HostileCase{"DeepNesting",
                    [](BookWriter& w, const Setting&) {
                        w << kHead << kRoot << "<body>";
                        w.repeat("<section>", 100000);
                        w << "<p>deep</p>";
                        w.repeat("</section>", 100000);
                        w << "</body>" << kPlainBinary << kEnd;
                    },
                    Outcome::clear, 2, 3, true, true},
        HostileCase{"DeepNestingInsideBinary",
                    [](BookWriter& w, const Setting&) {
                        w << kHead << kRoot << "<binary id=\"deep.png\">";
                        w.repeat("<a>", 100000);
                        w.repeat("</a>", 100000);
                        w << "</binary>" << kPlainBinary << kEnd;
                    },
                    Outcome::clear, 2, 3, true, false},
        // Sizes.
        HostileCase{"AttributeOf100MB",
                    [](BookWriter& w, const Setting&) {
                        w << kHead << kRoot << "<binary id=\"";
                        w.repeat("x", (100u << 20) / kShrink);
                        w << "\" content-type=\"image/png\">QUJD</binary>" << kPlainBinary << kEnd;
                    },
                    Outcome::listing, 3, 3, false, true},
        HostileCase{"TextNodeOf200MB",
                    [](BookWriter& w, const Setting&) {
                        w << kHead << kRoot << "<binary id=\"cover.png\" content-type=\"image/png\">";
                        w.repeat("QUJDREVGR0hJSktMTU5PUFFSU1RVVldYWVphYmNkZWZnaGlqa2xtbm9wcXJzdHV2d3h5ejAxMjM0NTY3\n",
                                 (200u << 20) / 81 / kShrink);
                        w << "</binary>" << kEnd;
                    },
                    Outcome::listing, 2, static_cast<long long>((200u << 20) / 81 / kShrink) * 60, false, true},
        HostileCase{"WhiteSpaceOf10MillionCharacters",
                    [](BookWriter& w, const Setting&) {
                        w << kHead << kRoot << "<binary id=\"cover.png\" content-type=\"image/png\">QUJD";
                        w.repeat(" \t\n\r \n\t ", 10000000 / 8 / kShrink);
                        w << "REVG</binary>" << kEnd;
                    },
                    Outcome::listing, 2, 6, false, true},
        HostileCase{"HundredThousandBinaries",
                    [](BookWriter& w, const Setting&) {
                        w << kHead << kRoot;
                        for (int i = 0; i < 100000 / static_cast<int>(kShrink); ++i)
                            w << "<binary id=\"b" + std::to_string(i) + ".png\" content-type=\"image/png\">QUJD</binary>\n";
                        w << kPlainBinary << kEnd;
                    },
                    Outcome::listing, 100000 / static_cast<long long>(kShrink) + 2, 3, false, true,
                    100000 / static_cast<long long>(kShrink)},
        // Names: path separators and control characters never reach the host as such.
        HostileCase{"IdsWithSeparatorsAndControls",
                    [](BookWriter& w, const Setting&) {
                        w << kHead << kRoot << kPlainBinary;
                        for (const char* id : {"../../etc/passwd", "C:\\evil.exe", "a/b", "tab&#9;x", "lf&#10;x",
                                               "cr&#13;x", "del&#127;x", "c1&#x85;x", "..", ".", "", "/abs",
                                               "\\\\server\\share"})
                            w << "<binary id=\"" << id << "\">QUJD</binary>";
                        w << kEnd;
                    },
                    Outcome::listing, 15, 3, false, true},
        // A comment of many "--", each an error: the parse of a packing run stops at
        // the first.
        HostileCase{"CommentOfDoubleHyphens",
                    [](BookWriter& w, const Setting&) {
                        w << kHead << kRoot << "<!--";
                        w.repeat("-", 1000000);
                        w << "-->" << kPlainBinary << kEnd;
                    },
                    Outcome::damaged, 2, 3, false, true},
        // Broken text: the tree refuses it; the book opens as a damaged one.
        HostileCase{"TruncatedUtf8",
                    [](BookWriter& w, const Setting&) { w << kHead << kRoot << "<body><p>abc\xD0"; },
                    Outcome::damaged, 1, 0, false, true},
        HostileCase{"InvalidUtf8InText",
                    [](BookWriter& w, const Setting&) {
                        w << kHead << kRoot << "<body><p>a\xFF\xC0\x80z</p></body>" << kPlainBinary << kEnd;
                    },
                    Outcome::damaged, 2, 3, false, true},
        HostileCase{"InvalidUtf8InId",
                    [](BookWriter& w, const Setting&) {
                        w << kHead << kRoot << "<binary id=\"a\xC3\x28.png\">QUJD</binary>" << kEnd;
                    },
                    Outcome::damaged, 2, 3, false, true},
        HostileCase{"TruncatedUtf16",
                    [](BookWriter& w, const Setting&) {
                        std::string text = "<?xml version=\"1.0\" encoding=\"UTF-16\"?><FictionBook>" + kPlainBinary;
                        std::string bytes = "\xFF\xFE";
                        for (char ch : text) bytes += std::string{ch, '\0'};
                        w << bytes.substr(0, bytes.size() - 1);
                    },
                    Outcome::damaged, 1, 0, false, true},
        HostileCase{"LoneSurrogateInUtf16",
                    [](BookWriter& w, const Setting&) {
                        std::string bytes = "\xFF\xFE";
                        auto put = [&](const std::string& ascii) {
                            for (char ch : ascii) bytes += std::string{ch, '\0'};
                        };
                        put("<?xml version=\"1.0\" encoding=\"UTF-16\"?><FictionBook><body><p>");
                        bytes += std::string("\x00\xD8", 2);  // a high surrogate with no low one after it
                        put("</p></body>" + kPlainBinary + "</FictionBook>");
                        w << bytes;
                    },
                    Outcome::damaged, 2, 3, false, true},
        HostileCase{"NulInTheMiddle",
                    [](BookWriter& w, const Setting&) {
                        w << kHead << kRoot << "<body><p>before" << std::string(1, '\0') << "after</p></body>"
                          << kPlainBinary << kEnd;
                    },
                    Outcome::damaged, 2, 3, false, true}),
    [](const testing::TestParamInfo<HostileCase>& info) { return std::string(info.param.label); });

}  // namespace
