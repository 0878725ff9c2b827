// Every failure the platform can have, at every point an exported operation meets
// it: each file operation of the platform layer in turn fails at its first, second,
// third... call, and so does each allocation, until the operation runs clean. Each
// failure must give the operation's own result code, leave no half-written
// extracted file and no temporary file, and leave the book on disk byte for byte as
// it was unless the save completed. Leaks are the AddressSanitizer build's to find:
// every path here runs to its end in that build too.
#include "platform/fault_seam.h"
#include "plugin/wcx.h"
#include "support/pack_helpers.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <new>
#include <set>

using namespace vellum;
using namespace vellum::test;

// Allocation failure on demand: while armed, the nth next allocation through
// operator new fails. Array and nothrow forms reach this one.
namespace {
std::atomic<long> allocCountdown{0};
std::atomic<bool> allocArmed{false};

bool allocationFails() {
    if (!allocArmed.load(std::memory_order_relaxed)) return false;
    if (allocCountdown.fetch_sub(1, std::memory_order_relaxed) != 1) return false;
    allocArmed.store(false, std::memory_order_relaxed);
    return true;
}
}  // namespace

// GCC cannot see that these delete what the operator new below allocates.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

void* operator new(std::size_t size) {
    if (allocationFails()) throw std::bad_alloc();
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

// In the order of platform::Fault, the allocation last.
enum class Kind { open, create, read, write, flush, remove, rename, close, size, lock, reserve, carry, unnamed, alloc };

const char* name(Kind kind) {
    static const char* const names[] = {"open",  "create", "read", "write",   "flush", "remove",  "rename",
                                        "close", "size",   "lock", "reserve", "carry", "unnamed", "alloc"};
    return names[static_cast<int>(kind)];
}

void arm(Kind kind, int nth) {
    if (kind == Kind::alloc) {
        allocCountdown = nth;
        allocArmed = true;
    } else {
        platform::armFault(static_cast<platform::Fault>(static_cast<int>(kind) + 1), nth);
    }
}

// Disarms and tells whether the armed failure happened.
bool disarm(Kind kind) {
    bool pending = kind == Kind::alloc ? allocArmed.exchange(false) : platform::faultPending();
    platform::disarmFaults();
    return !pending;
}

const Kind kAllKinds[] = {Kind::open,  Kind::create, Kind::read, Kind::write,   Kind::flush,
                          Kind::remove, Kind::rename, Kind::close, Kind::size, Kind::lock,
                          Kind::reserve, Kind::carry, Kind::unnamed, Kind::alloc};

// A book of two binaries and a history, with a replacement file beside it.
struct Scene {
    TempDir dir;
    std::string book = dir.file("book.fb2");
    std::string source = dir.file("cover.png");
    std::string target = dir.file("out.bin");
    std::string folder = dir.path().string() + "/";
    std::string names = addList({"cover.png"});  // made before any failure is armed
    std::string original = test::book("<description><document-info><history><p>old</p></history></document-info>"
                                      "</description><body><p>text</p></body>" +
                                      binary("cover.png", "image/png", "QUJD\nREVG") +
                                      binary("other.png", "image/png", "R0hJ"));
    Scene() {
        writeFile(book, original);
        writeFile(source, "NEW CONTENT");
    }
    // Names in the folder other than the book, its second name, the source and the target.
    std::set<std::string> strays() const {
        std::set<std::string> found;
        for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
            std::string file = entry.path().filename().string();
            if (file != "book.fb2" && file != "link.fb2" && file != "cover.png" && file != "out.bin")
                found.insert(file);
        }
        return found;
    }
};

HANDLE_WCX openBook(const std::string& path, int* openResult = nullptr) {
    tOpenArchiveData data{};
    data.ArcName = const_cast<char*>(path.c_str());
    HANDLE_WCX handle = OpenArchive(&data);
    if (openResult != nullptr) *openResult = handle != nullptr ? 0 : data.OpenResult;
    return handle;
}

// Moves an open archive to the entry named `entry`; false when it is not listed.
bool seek(HANDLE_WCX handle, const std::string& entry) {
    tHeaderData header{};
    while (ReadHeader(handle, &header) == 0)
        if (entry == header.FileName) return true;
    return false;
}

// One exported operation: the setting up runs unarmed, `act` runs armed, and
// `check` judges the result with the fault known to have happened or not.
struct Operation {
    const char* label;
    std::function<void(Scene&, HANDLE_WCX&)> prepare;
    std::function<int(Scene&, HANDLE_WCX&)> act;
    std::function<void(Scene&, int result, bool faulted)> check;
};

class FaultInjection : public testing::TestWithParam<Operation> {
protected:
    void SetUp() override {
        if (isWine()) GTEST_SKIP() << "the fault seam and the allocation hook are driven on the native target";
    }
    void TearDown() override {
        platform::disarmFaults();
        allocArmed = false;
    }
};

TEST_P(FaultInjection, EveryFailureGivesItsCodeAndLosesNothing) {
    const Operation& op = GetParam();
    std::string tally;
    for (Kind kind : kAllKinds) {
        int faults = 0;
        for (int nth = 1; nth < 100000; ++nth) {
            SCOPED_TRACE(std::string(name(kind)) + " failing at call " + std::to_string(nth));
            Scene scene;
            HANDLE_WCX handle = nullptr;
            if (op.prepare) op.prepare(scene, handle);
            arm(kind, nth);
            int result = op.act(scene, handle);
            bool faulted = disarm(kind);
            CloseArchive(handle);
            op.check(scene, result, faulted);
            EXPECT_TRUE(scene.strays().empty()) << "a temporary or stray file was left: " << *scene.strays().begin();
            if (HasFailure()) return;
            if (!faulted) break;  // the operation made fewer calls than nth: it ran clean
            ++faults;
        }
        tally += std::string(" ") + name(kind) + ":" + std::to_string(faults);
    }
    std::printf("%s failures driven:%s\n", op.label, tally.c_str());
}

bool untouched(const Scene& scene) { return readFile(scene.book) == scene.original; }

// The first entry, "cover.png", decodes to "ABCDEF".
const std::string kCoverBytes = "ABCDEF";

int packMoving(Scene& s, HANDLE_WCX&) {
    return PackFiles(s.book.data(), nullptr, s.folder.data(), s.names.data(), PK_PACK_MOVE_FILES);
}

void checkPacked(Scene& s, int result, bool faulted) {
    if (result == 0) {
        // Only the deletion of a moved source may fail without failing the run.
        EXPECT_NE(readFile(s.book), s.original);
        TempDir out;
        std::string entry = out.file("cover.png");
        HANDLE_WCX handle = openBook(s.book);
        ASSERT_NE(handle, nullptr) << "the saved book does not open";
        ASSERT_TRUE(seek(handle, "cover.png"));
        EXPECT_EQ(ProcessFile(handle, PK_EXTRACT, nullptr, entry.data()), 0);
        CloseArchive(handle);
        EXPECT_EQ(readFile(entry), "NEW CONTENT");
        if (!faulted) {
            EXPECT_FALSE(exists(s.source)) << "a moved source stays";
        }
    } else {
        EXPECT_TRUE(faulted);
        EXPECT_TRUE(result == E_EOPEN || result == E_EREAD || result == E_EWRITE ||
                    result == E_NO_MEMORY)
            << result;
        EXPECT_TRUE(untouched(s)) << "a failed run changed the book";
        EXPECT_EQ(readFile(s.source), "NEW CONTENT") << "a failed run touched the source";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Exports, FaultInjection,
    testing::Values(
        Operation{"OpenArchive", nullptr,
                  [](Scene& s, HANDLE_WCX& handle) {
                      int result = 0;
                      handle = openBook(s.book, &result);
                      return result;
                  },
                  [](Scene& s, int result, bool faulted) {
                      if (faulted) {
                          EXPECT_TRUE(result == 0 || result == E_EOPEN || result == E_NO_MEMORY) << result;
                      } else {
                          EXPECT_EQ(result, 0);
                      }
                      EXPECT_TRUE(untouched(s));
                  }},
        Operation{"CanYouHandleThisFile", nullptr,
                  [](Scene& s, HANDLE_WCX&) { return CanYouHandleThisFile(s.book.data()); },
                  [](Scene& s, int result, bool faulted) {
                      EXPECT_TRUE(result == 0 || result == 1);
                      if (!faulted) {
                          EXPECT_EQ(result, 1);
                      }
                      EXPECT_TRUE(untouched(s));
                  }},
        Operation{"ReadHeaderWalk", [](Scene& s, HANDLE_WCX& handle) { handle = openBook(s.book); },
                  [](Scene&, HANDLE_WCX& handle) {
                      tHeaderData header{};
                      int result = 0, entries = 0;
                      while ((result = ReadHeader(handle, &header)) == 0) ++entries;
                      return result == E_END_ARCHIVE ? (entries == 3 ? 0 : -entries) : result;
                  },
                  [](Scene& s, int result, bool faulted) {
                      if (faulted) {
                          EXPECT_TRUE(result == 0 || result == E_NO_MEMORY) << result;
                      } else {
                          EXPECT_EQ(result, 0);
                      }
                      EXPECT_TRUE(untouched(s));
                  }},
        Operation{"ProcessFileExtractElement",
                  [](Scene& s, HANDLE_WCX& handle) {
                      handle = openBook(s.book);
                      ASSERT_TRUE(seek(handle, "cover.png"));
                  },
                  [](Scene& s, HANDLE_WCX& handle) { return ProcessFile(handle, PK_EXTRACT, nullptr, s.target.data()); },
                  [](Scene& s, int result, bool faulted) {
                      if (result == 0) {
                          EXPECT_EQ(readFile(s.target), kCoverBytes);
                      } else {
                          EXPECT_TRUE(faulted);
                          // The picture is decoded from the book's file, which is opened
                          // and read again: E_BAD_DATA when it cannot be, E_EREAD when a
                          // read fails.
                          EXPECT_TRUE(result == E_ECLOSE || result == E_EWRITE || result == E_NO_MEMORY ||
                                      result == E_BAD_DATA || result == E_EREAD)
                              << result;
                          EXPECT_FALSE(exists(s.target)) << "a failed extraction left its file";
                      }
                      EXPECT_TRUE(untouched(s));
                  }},
        Operation{"ProcessFileTestElement",
                  [](Scene& s, HANDLE_WCX& handle) {
                      handle = openBook(s.book);
                      ASSERT_TRUE(seek(handle, "cover.png"));
                  },
                  [](Scene&, HANDLE_WCX& handle) { return ProcessFile(handle, PK_TEST, nullptr, nullptr); },
                  [](Scene& s, int result, bool faulted) {
                      if (faulted) {
                          EXPECT_TRUE(result == 0 || result == E_NO_MEMORY) << result;
                      } else {
                          EXPECT_EQ(result, 0);
                      }
                      EXPECT_FALSE(exists(s.target));
                  }},
        Operation{"ProcessFileExtractIndex",
                  [](Scene& s, HANDLE_WCX& handle) {
                      handle = openBook(s.book);
                      ASSERT_TRUE(seek(handle, "files.bbs"));
                  },
                  [](Scene& s, HANDLE_WCX& handle) { return ProcessFile(handle, PK_EXTRACT, nullptr, s.target.data()); },
                  [](Scene& s, int result, bool faulted) {
                      if (result == 0) {
                          EXPECT_EQ(readFile(s.target), "cover.png    6 image/png\r\nother.png    3 image/png\r\n");
                      } else {
                          EXPECT_TRUE(faulted);
                          EXPECT_TRUE(result == E_EOPEN || result == E_EWRITE || result == E_NO_MEMORY) << result;
                          EXPECT_FALSE(exists(s.target)) << "a failed extraction left its file";
                      }
                      EXPECT_TRUE(untouched(s));
                  }},
        Operation{"PackFilesMovingTheSource", nullptr, packMoving, checkPacked},
        // A book with a second name is written in place: its failures too leave it whole.
        Operation{"PackFilesInPlace",
                  [](Scene& s, HANDLE_WCX&) {
                      std::filesystem::create_hard_link(s.book, s.dir.file("link.fb2"));
                  },
                  packMoving,
                  [](Scene& s, int result, bool faulted) {
                      checkPacked(s, result, faulted);
                      EXPECT_EQ(readFile(s.dir.file("link.fb2")), readFile(s.book)) << "the two names parted";
                  }}),
    [](const testing::TestParamInfo<Operation>& info) { return std::string(info.param.label); });

}  // namespace
