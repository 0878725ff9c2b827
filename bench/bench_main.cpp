// Times what the library does, through its exported functions, on generated books,
// beside xmllint (libxml2's parse) and Python's lxml on the same files as the
// yardsticks, with the page cache warm; and the peak memory of each, in a child
// process. Each line gives its target.
#include "book/book_scan.h"
#include "book/book_splice.h"
#include "book/history_note.h"
#include "book_generator.h"
#include "core/file_encoder.h"
#include "plugin/wcx.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <random>
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

void listBook(const std::string& path) {
    tOpenArchiveData data{};
    data.ArcName = const_cast<char*>(path.c_str());
    HANDLE_WCX handle = OpenArchive(&data);
    if (handle == nullptr) std::abort();
    tHeaderData header{};
    while (ReadHeader(handle, &header) == 0) ProcessFile(handle, PK_SKIP, nullptr, nullptr);
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

// What a file manager does to copy everything out: the host recognises the book,
// opens it, and extracts each entry.
void extractBook(const std::string& path, const std::string& folder, tProcessDataProc progress = progressCalls) {
    if (CanYouHandleThisFile(const_cast<char*>(path.c_str())) != 1) std::abort();
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
    if (!nodeListItem(binaries, 3, element) || encodeFileIntoBinary(element, source, nullptr) != Status::ok)
        std::abort();
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

void writeRandomFile(const std::string& path, std::size_t size) {
    std::mt19937_64 random(3);
    std::vector<std::uint64_t> block(1 << 17);
    std::FILE* f = std::fopen(path.c_str(), "wb");
    for (std::size_t done = 0; done < size; done += block.size() * 8) {
        for (auto& word : block) word = random();
        std::fwrite(block.data(), 8, block.size(), f);
    }
    std::fclose(f);
}

void line(const char* what, double value, const char* unit, const char* target) {
    std::printf("%-58s %9.3f %-3s %s\n", what, value, unit, target);
}

}  // namespace

int main(int argc, char** argv) {
    // The children whose peak memory is measured.
    if (argc == 3 && std::string(argv[1]) == "--list") {
        listBook(argv[2]);
        return 0;
    }
    if (argc == 4 && std::string(argv[1]) == "--extract") {
        extractBook(argv[2], argv[3]);
        return 0;
    }
    if (argc == 5 && std::string(argv[1]) == "--replace") {
        std::string list = std::string(argv[4]) + '\0' + '\0';
        return PackFiles(argv[2], nullptr, argv[3], list.data(), 0);
    }
    fs::path work = argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path() / "vellum-bench";
    int runs = argc > 2 ? std::atoi(argv[2]) : 5;
    fs::create_directories(work);
    std::string large = (work / "large-40x1MiB.fb2").string();
    std::string small = (work / "small-20000.fb2").string();
    std::string huge = (work / "huge-110x1MiB.fb2").string();
    std::string noise = (work / "random-150MB.fb2").string();
    std::string replaceBook = (work / "replace-40x1MiB.fb2").string();
    std::printf("generating books in %s ...\n", work.string().c_str());
    vellum::bench::writeSyntheticBook(large, 40, 1 << 20);
    vellum::bench::writeSyntheticBook(small, 20000, 2000);
    vellum::bench::writeSyntheticBook(huge, 110, 1 << 20);
    writeRandomFile(noise, 150u << 20);
    const std::string python = fs::exists("/usr/bin/python3") ? "/usr/bin/python3" : "python3";
    const bool haveLxml = std::system((python + " -c 'import lxml' 2>/dev/null").c_str()) == 0;
    const std::string lxmlScript = (fs::path(VELLUM_BENCH_DIR) / "lxml_extract.py").string();
    std::printf("best of %d runs, page cache warm\n\n", runs);

    // The scanner that a spliced save runs twice (over the book, and over the result
    // as it is written): text and pictures are skipped to the next "<", markup is
    // read a character at a time, so a book of paragraphs is its slowest case.
    std::string prose = (work / "prose-600000.fb2").string();
    vellum::bench::writeSyntheticBook(prose, 0, 0, 600000);
    for (const std::string* book : {&large, &small, &prose}) {
        double scan = best(runs, [&] {
            std::optional<vellum::BookScan> scanned = vellum::scanBookFile(book->c_str());
            if (!scanned || !scanned->complete) std::abort();
        });
        double size = fs::file_size(*book) / 1e6;
        std::printf("scan for a splice, %s (%.1f MB): %.4f s = %.0f MB/s\n", fs::path(*book).filename().c_str(), size,
                    scan, size / scan);
    }
    std::printf("\n");

    // Reading: listing against a parse of the same book.
    double largeParse = 0;
    for (const std::string* book : {&large, &small}) {
        const bool isLarge = book == &large;
        double parse = best(runs, [&] { run("xmllint --noout --huge '" + *book + "'"); });
        if (isLarge) largeParse = parse;
        double list = best(runs, [&] { listBook(*book); });
        std::printf("%s (%.1f MB)\n", fs::path(*book).filename().c_str(), fs::file_size(*book) / 1e6);
        line("  xmllint --noout --huge", parse, "s", "");
        line("  list (OpenArchive, ReadHeader and PK_SKIP to the end)", list, "s", "");
        line("  list / parse", list / parse, "", isLarge ? "(at most 0.4)" : "(at most 0.5)");
    }

    // Extraction of everything, as a file manager copies it out.
    fs::path out = work / "out";
    fs::create_directories(out);
    double extract = best(runs, [&] { extractBook(large, out.string()); });
    std::printf("\nextract everything of %s\n", fs::path(large).filename().c_str());
    line("  extract", extract, "s", "");
    line("  extract / xmllint parse", extract / largeParse, "", "(at most 1.1)");
    if (haveLxml) {
        fs::path lxmlOut = work / "lxml-out";
        fs::create_directories(lxmlOut);
        const std::string command = python + " '" + lxmlScript + "' '" + large + "' '" + lxmlOut.string() + "'";
        double lxml = best(runs, [&] { run(command); });
        line("  lxml: parse and write every picture", lxml, "s", "");
        line("  lxml / extract", lxml / extract, "", "(at least 3)");
    } else {
        std::printf("  lxml: not installed (Debian's python3-lxml)\n");
    }
    double plain = 1e9, slow = 1e9;
    slowCalls = 0;
    for (int i = 0; i < runs; ++i) {
        plain = std::min(plain, best(1, [&] { extractBook(large, out.string(), nullptr); }));
        slow = std::min(slow, best(1, [&] { extractBook(large, out.string(), slowProgress); }));
    }
    line("  with a progress callback of 5 us / without", slow / plain, "", "(at most 1.1)");

    // Detection reads only the start of a file, whatever its size.
    std::printf("\nCanYouHandleThisFile\n");
    for (const std::string* file : {&huge, &noise}) {
        double detect = best(runs * 20, [&] { CanYouHandleThisFile(const_cast<char*>(file->c_str())); });
        char what[128];
        std::snprintf(what, sizeof what, "  %s (%.0f MB), answer %d", fs::path(*file).filename().c_str(),
                      fs::file_size(*file) / 1e6, CanYouHandleThisFile(const_cast<char*>(file->c_str())));
        line(what, detect * 1e3, "ms", "(at most 10)");
    }
    double listHuge = best(runs, [&] { listBook(huge); });
    line("  list huge-110x1MiB.fb2", listHuge, "s", "");

    // Replacing one picture by a 5 MB file in the book of 40 one-megabyte pictures,
    // against loading and saving that book with libxml2 alone. Each run starts from a
    // fresh copy of the book (the copy is not timed).
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
    std::printf("\nreplace one picture by 5 MB in %s\n", fs::path(large).filename().c_str());
    line("  PackFiles", replace, "s", "");
    line("  PackFiles / xmllint --huge --output (load and save)", replace / roundTrip, "", "(at most 1.2)");
    ReplaceSplit split{1e9, 1e9, 1e9, 1e9, 1e9, 1e9};
    for (int i = 0; i < runs; ++i) {
        fresh();
        ReplaceSplit one = replaceInSteps(replaceBook, picture, copy);
        split = {std::min(split.load, one.load),     std::min(split.encode, one.encode),
                 std::min(split.note, one.note),     std::min(split.splice, one.splice),
                 std::min(split.scan, one.scan),     std::min(split.check, one.check)};
    }
    std::printf("  load %.3f s, encode %.3f s, note %.3f s, splice %.3f s (a scan of the book %.3f s, the check, "
                "a scan of the result as it is written, about %.3f s)\n",
                split.load, split.encode, split.note, split.splice, split.scan, split.check);
    HANDLE_WCX packing = reinterpret_cast<HANDLE_WCX>(static_cast<std::intptr_t>(-1));
    double packPlain = 1e9, packSlow = 1e9;
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
    line("  with a progress callback of 5 us / without", packSlow / packPlain, "", "(at most 1.1)");

    // Peak memory, each in a child of its own.
    std::printf("\npeak memory\n");
    fresh();
    line("  list large-40x1MiB.fb2", peakOfChild("/proc/self/exe", {"--list", large}), "MB", "(at most 24)");
    line("  list small-20000.fb2", peakOfChild("/proc/self/exe", {"--list", small}), "MB", "(at most 32)");
    line("  extract everything of large-40x1MiB.fb2", peakOfChild("/proc/self/exe", {"--extract", large, out.string()}),
         "MB", "(at most 32)");
    double replacePeak = peakOfChild("/proc/self/exe", {"--replace", replaceBook, srcPath, "picture-3.jpg"});
    line("  replace one picture by 5 MB", replacePeak, "MB", "");
    fs::remove_all(work);
    return 0;
}
