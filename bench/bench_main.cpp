// Times the three things the library does, through its exported functions, on
// generated books, beside xmllint on the same files as the yardstick of parsing, and
// what a host's costly progress callback adds to extraction and replacement.
#include "book/book_scan.h"
#include "book/book_splice.h"
#include "book_generator.h"
#include "plugin/wcx.h"
#include "book/history_note.h"
#include "core/file_encoder.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double seconds(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// The best of `runs` timings of `work`: the least disturbed by the rest of the machine.
template <typename Work>
double best(int runs, Work work) {
    double result = 1e9;
    for (int i = 0; i < runs; ++i) {
        Clock::time_point start = Clock::now();
        work();
        result = std::min(result, seconds(start));
    }
    return result;
}

int entries = 0;

void listBook(const std::string& path) {
    tOpenArchiveData data{};
    data.ArcName = const_cast<char*>(path.c_str());
    HANDLE_WCX handle = OpenArchive(&data);
    if (handle == nullptr) std::abort();
    tHeaderData header{};
    entries = 0;
    while (ReadHeader(handle, &header) == 0) {
        ProcessFile(handle, PK_SKIP, nullptr, nullptr);
        ++entries;
    }
    CloseArchive(handle);
}

int WCX_CALL progressCalls(char*, int) { return 1; }

// A host's progress callback that costs about 5 µs a call (a busy wait), as the
// update of a file manager's progress dialog may; the calls are counted.
long slowCalls = 0;
int WCX_CALL slowProgress(char*, int) {
    ++slowCalls;
    Clock::time_point end = Clock::now() + std::chrono::microseconds(5);
    while (Clock::now() < end) {
    }
    return 1;
}

void extractBook(const std::string& path, const std::string& folder, tProcessDataProc progress = progressCalls) {
    tOpenArchiveData data{};
    data.ArcName = const_cast<char*>(path.c_str());
    HANDLE_WCX handle = OpenArchive(&data);
    if (handle == nullptr) std::abort();
    SetProcessDataProc(handle, progress);
    tHeaderData header{};
    while (ReadHeader(handle, &header) == 0)
        if (ProcessFile(handle, PK_EXTRACT, const_cast<char*>(folder.c_str()), header.FileName) != 0) std::abort();
    CloseArchive(handle);
}

// Replacing one picture as PackFiles does, step by step, each step timed.
struct ReplaceSplit {
    double load = 0, encode = 0, note = 0, splice = 0, scan = 0, check = 0;
};

ReplaceSplit replaceInSteps(const std::string& book, const std::string& source, const std::string& output) {
    using namespace vellum;
    ReplaceSplit split;
    Clock::time_point start = Clock::now();
    BookDocument document = loadBook(book.c_str());
    NodeList binaries;
    std::int32_t count = 0;
    if (!document || !selectNodes(document, "//FictionBook/binary", binaries) || !nodeListLength(binaries, count))
        std::abort();
    split.load = seconds(start);
    start = Clock::now();
    Node element;
    if (!nodeListItem(binaries, 3, element) || encodeFileIntoBinary(element, source, nullptr) != Status::ok) std::abort();
    std::vector<bool> replaced(static_cast<std::size_t>(count));
    replaced[3] = true;
    BookEdits edits;
    if (!collectBinaryEdits(binaries, replaced, edits)) std::abort();
    split.encode = seconds(start);
    start = Clock::now();
    edits.note = appendHistoryNote(document, 1);
    if (!edits.note.appended) std::abort();
    split.note = seconds(start);
    start = Clock::now();
    std::optional<BookScan> scan = scanBookFile(book.c_str());
    if (!scan || !scan->complete) std::abort();
    split.scan = seconds(start);
    start = Clock::now();
    std::FILE* out = std::fopen(output.c_str(), "wb");
    SpliceResult result = spliceBook(book.c_str(), edits, [&](const void* data, std::size_t size) {
        return std::fwrite(data, 1, size, out) == size;
    });
    std::fclose(out);
    if (result != SpliceResult::spliced) std::abort();
    split.splice = seconds(start);
    // The check is the scan of the result as it is written: timed here on its own.
    start = Clock::now();
    scan = scanBookFile(output.c_str());
    if (!scan || !scan->complete) std::abort();
    split.check = seconds(start);
    return split;
}

// The peak resident memory, in MB, of this program run again with `arguments`.
double peakOfChild(const char* self, std::vector<std::string> arguments) {
    pid_t child = fork();
    if (child == 0) {
        std::vector<char*> argv{const_cast<char*>(self)};
        for (std::string& a : arguments) argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(self, argv.data());
        _exit(127);
    }
    int status = 0;
    struct rusage usage {};
    if (child < 0 || wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        std::abort();
    return usage.ru_maxrss / 1024.0;
}

void run(const std::string& command) {
    if (std::system(command.c_str()) != 0) {
        std::fprintf(stderr, "failed: %s\n", command.c_str());
        std::exit(1);
    }
}

}  // namespace

int main(int argc, char** argv) {
    // The children whose peak memory is measured.
    if (argc == 3 && std::string(argv[1]) == "--list") {
        listBook(argv[2]);
        return 0;
    }
    if (argc == 5 && std::string(argv[1]) == "--replace") {
        std::string list = std::string(argv[4]) + '\0' + '\0';
        return PackFiles(argv[2], nullptr, argv[3], list.data(), 0);
    }
    fs::path work = argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path() / "vellum-bench";
    int runs = argc > 2 ? std::atoi(argv[2]) : 3;
    fs::create_directories(work);
    std::string small10k = (work / "small-10000.fb2").string();
    std::string small20k = (work / "small-20000.fb2").string();
    std::string large = (work / "large-40x1MB.fb2").string();
    std::string replaceBook = (work / "replace-40x1MB.fb2").string();
    std::string prose = (work / "prose-600000.fb2").string();
    std::printf("generating books in %s ...\n", work.string().c_str());
    vellum::bench::writeSyntheticBook(small10k, 10000, 600);
    vellum::bench::writeSyntheticBook(small20k, 20000, 600);
    vellum::bench::writeSyntheticBook(large, 40, 1 << 20);
    vellum::bench::writeSyntheticBook(prose, 0, 0, 600000);

    // The scanner that a spliced save runs twice (over the book, and over the result
    // as it is written): text and pictures are skipped to the next "<", markup is
    // read a character at a time, so a book of paragraphs is its slowest case.
    for (const std::string* book : {&large, &small20k, &prose}) {
        double scan = best(runs, [&] {
            std::optional<vellum::BookScan> scanned = vellum::scanBookFile(book->c_str());
            if (!scanned || !scanned->complete) std::abort();
        });
        double size = fs::file_size(*book) / 1e6;
        std::printf("scan %-22s (%5.1f MB): %.4f s = %.0f MB/s\n", fs::path(*book).filename().c_str(), size, scan,
                    size / scan);
    }

    // The two sizes take turns, so neither gets the other's warm caches: a 10,000
    // picture book fits the processor's last-level cache when listed over and over.
    double list10k = 1e9, list20k = 1e9;
    for (int i = 0; i < runs; ++i) {
        list10k = std::min(list10k, best(1, [&] { listBook(small10k); }));
        list20k = std::min(list20k, best(1, [&] { listBook(small20k); }));
    }
    std::printf("list 10,000 pictures (%5.1f MB): %.3f s\n", fs::file_size(small10k) / 1e6, list10k);
    std::printf("list 20,000 pictures (%5.1f MB): %.3f s   ratio %.2f (at most 2.2)\n", fs::file_size(small20k) / 1e6,
                list20k, list20k / list10k);

    double megabytes = fs::file_size(large) / 1e6;
    fs::path out = work / "out";
    fs::create_directories(out);
    double extract = best(runs, [&] { extractBook(large, out.string()); });
    double parse = best(runs, [&] { run("xmllint --noout --huge '" + large + "'"); });
    std::printf("extract all of %.1f MB (40 x 1 MB): %.3f s = %.1f MB/s\n", megabytes, extract, megabytes / extract);
    std::printf("xmllint --noout --huge same book:   %.3f s = %.1f MB/s   ratio %.2f (at most 3)\n", parse,
                megabytes / parse, extract / parse);

    // The same extraction with no callback, and with one that costs 5 µs a call.
    double plain = 1e9, slow = 1e9;
    slowCalls = 0;
    for (int i = 0; i < runs; ++i) {
        plain = std::min(plain, best(1, [&] { extractBook(large, out.string(), nullptr); }));
        slow = std::min(slow, best(1, [&] { extractBook(large, out.string(), slowProgress); }));
    }
    std::printf("extract all, callback of 5 us:      %.3f s against %.3f s without   ratio %.3f (at most 1.1), "
                "%ld calls\n",
                slow, plain, slow / plain, slowCalls / runs);

    // Replacing one picture by a 5 MB file in the 54 MB book of 40 one-megabyte
    // pictures, against loading and saving that book with libxml2 alone. Each run
    // starts from a fresh copy of the book (the copy is not timed).
    fs::path source = work / "src";
    fs::create_directories(source);
    const std::string picture = (source / "picture-3.jpg").string();
    {
        std::string bytes(5 << 20, '\0');
        unsigned state = 7;
        for (char& b : bytes) b = static_cast<char>((state = state * 1103515245u + 12345u) >> 24);
        std::FILE* f = std::fopen(picture.c_str(), "wb");
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
    std::string srcPath = source.string() + "/";
    char list[] = "picture-3.jpg\0";
    auto fresh = [&] { fs::copy_file(large, replaceBook, fs::copy_options::overwrite_existing); };
    double replace = 1e9;
    for (int i = 0; i < runs; ++i) {
        fresh();
        replace = std::min(replace, best(1, [&] {
            if (PackFiles(const_cast<char*>(replaceBook.c_str()), nullptr, srcPath.data(), list, 0) != 0) std::abort();
        }));
    }
    std::string copy = (work / "xmllint-out.fb2").string();
    double roundTrip = best(runs, [&] { run("xmllint --huge --output '" + copy + "' '" + large + "'"); });
    std::printf("replace one picture by 5 MB in %.1f MB: %.3f s\n", megabytes, replace);
    std::printf("xmllint --huge --output same book:   %.3f s   ratio %.2f (at most 1.2)\n", roundTrip,
                replace / roundTrip);
    ReplaceSplit split{1e9, 1e9, 1e9, 1e9, 1e9, 1e9};
    for (int i = 0; i < runs; ++i) {
        fresh();
        ReplaceSplit one = replaceInSteps(replaceBook, picture, copy);
        split = {std::min(split.load, one.load),     std::min(split.encode, one.encode),
                 std::min(split.note, one.note),     std::min(split.splice, one.splice),
                 std::min(split.scan, one.scan),     std::min(split.check, one.check)};
    }
    // The same replacement with no packing callback, and with one of 5 µs a call.
    HANDLE_WCX packing = reinterpret_cast<HANDLE_WCX>(static_cast<std::intptr_t>(-1));
    double packPlain = 1e9, packSlow = 1e9;
    slowCalls = 0;
    for (int i = 0; i < runs; ++i) {
        for (tProcessDataProc progress : {static_cast<tProcessDataProc>(nullptr), &slowProgress}) {
            fresh();
            SetProcessDataProc(packing, progress);
            double& time = progress == nullptr ? packPlain : packSlow;
            time = std::min(time, best(1, [&] {
                if (PackFiles(const_cast<char*>(replaceBook.c_str()), nullptr, srcPath.data(), list, 0) != 0)
                    std::abort();
            }));
        }
    }
    SetProcessDataProc(packing, nullptr);
    std::printf("replace, callback of 5 us:          %.3f s against %.3f s without   ratio %.3f (at most 1.1), "
                "%ld calls\n",
                packSlow, packPlain, packSlow / packPlain, slowCalls / runs);
    std::printf("  load %.3f s, encode %.3f s, note %.3f s, splice %.3f s (of which a scan of the book %.3f s"
                " and the check, a scan of the result as it is written, about %.3f s)\n",
                split.load, split.encode, split.note, split.splice, split.scan, split.check);

    fresh();
    double listPeak = peakOfChild("/proc/self/exe", {"--list", replaceBook});
    double replacePeak = peakOfChild("/proc/self/exe", {"--replace", replaceBook, srcPath, "picture-3.jpg"});
    double allowed = listPeak + 2 * 5 + 16;
    std::printf("peak memory: listing %.1f MB, replacing %.1f MB (at most %.1f: listing + 2 x 5 MB + 16 MB)\n",
                listPeak, replacePeak, allowed);
    fs::remove_all(work);
    return 0;
}
