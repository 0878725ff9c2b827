// Times the three things the library does, through its exported functions, on
// generated books, beside xmllint on the same files as the yardstick of parsing, and
// what a host's costly progress callback adds to extraction and replacement.
#include "book_generator.h"
#include "plugin/wcx.h"

#include <chrono>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
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

void run(const std::string& command) {
    if (std::system(command.c_str()) != 0) {
        std::fprintf(stderr, "failed: %s\n", command.c_str());
        std::exit(1);
    }
}

}  // namespace

int main(int argc, char** argv) {
    fs::path work = argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path() / "vellum-bench";
    int runs = argc > 2 ? std::atoi(argv[2]) : 3;
    fs::create_directories(work);
    std::string small10k = (work / "small-10000.fb2").string();
    std::string small20k = (work / "small-20000.fb2").string();
    std::string large = (work / "large-40x1MB.fb2").string();
    std::string replaceBook = (work / "replace.fb2").string();
    std::printf("generating books in %s ...\n", work.string().c_str());
    vellum::bench::writeSyntheticBook(small10k, 10000, 600);
    vellum::bench::writeSyntheticBook(small20k, 20000, 600);
    vellum::bench::writeSyntheticBook(large, 40, 1 << 20);

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

    // Replacing one 5 MB picture in a 50 MB book, against loading and saving it
    // with libxml2 alone.
    vellum::bench::writeSyntheticBook(replaceBook, 7, 5 << 20, 2);
    fs::path source = work / "src";
    fs::create_directories(source);
    {
        std::string picture(5 << 20, 'x');
        std::FILE* f = std::fopen((source / "picture-3.jpg").string().c_str(), "wb");
        std::fwrite(picture.data(), 1, picture.size(), f);
        std::fclose(f);
    }
    std::string srcPath = source.string() + "/";
    char list[] = "picture-3.jpg\0";
    double replace = best(runs, [&] {
        if (PackFiles(const_cast<char*>(replaceBook.c_str()), nullptr, srcPath.data(), list, 0) != 0) std::abort();
    });
    // The same replacement with no packing callback, and with one of 5 µs a call.
    HANDLE_WCX packing = reinterpret_cast<HANDLE_WCX>(static_cast<std::intptr_t>(-1));
    double packPlain = 1e9, packSlow = 1e9;
    slowCalls = 0;
    for (int i = 0; i < runs; ++i) {
        SetProcessDataProc(packing, nullptr);
        packPlain = std::min(packPlain, best(1, [&] {
            if (PackFiles(const_cast<char*>(replaceBook.c_str()), nullptr, srcPath.data(), list, 0) != 0) std::abort();
        }));
        SetProcessDataProc(packing, slowProgress);
        packSlow = std::min(packSlow, best(1, [&] {
            if (PackFiles(const_cast<char*>(replaceBook.c_str()), nullptr, srcPath.data(), list, 0) != 0) std::abort();
        }));
    }
    SetProcessDataProc(packing, nullptr);
    std::string copy = (work / "xmllint-out.fb2").string();
    double roundTrip = best(runs, [&] { run("xmllint --huge --output '" + copy + "' '" + replaceBook + "'"); });
    std::printf("replace one 5 MB picture in %.1f MB: %.3f s\n", fs::file_size(replaceBook) / 1e6, replace);
    std::printf("xmllint --huge --output same book:  %.3f s   ratio %.2f (at most 2)\n", roundTrip, replace / roundTrip);
    std::printf("replace, callback of 5 us:          %.3f s against %.3f s without   ratio %.3f (at most 1.1), "
                "%ld calls\n",
                packSlow, packPlain, packSlow / packPlain, slowCalls / runs);
    fs::remove_all(work);
    return 0;
}
