// An in-place save stopped dead at any step, as a kill or a power loss stops it,
// leaves a journal that the next open plays back: the book is then the old one byte
// for byte, or the new one whole, and nothing stays beside it. A torn or damaged
// journal is removed and the book left as it is; so is one that no longer fits its
// book.
#include "platform/book_file_system.h"
#include "platform/fault_seam.h"
#include "support/book_fixture.h"
#include "support/pack_helpers.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>

using namespace vellum;
using namespace vellum::test;
namespace fs = std::filesystem;

namespace {

// A book with two names (so that it is saved in place) and a new cover beside it,
// larger or smaller than the old one.
struct Scene {
    TempDir dir, sources;
    std::string book = dir.file("book.fb2");
    std::string folder = sources.path().string() + platform::pathSeparator();
    std::string newCover;
    std::string original;
    explicit Scene(bool grows) : newCover(grows ? 6000 : 300, 'n') {
        original = test::book("<description><document-info><history/></document-info></description>"
                              "<body><p>text</p></body>" +
                              binary("cover.jpg", "image/jpeg", referenceEncode(std::string(3000, 'o'))) +
                              binary("end.png", "image/png", "RU5E"));
        writeFile(book, original);
        writeFile(sources.file("cover.jpg"), newCover);
        fs::create_hard_link(book, dir.file("link.fb2"));
    }
    // A pack that stops dead at its `step`-th halt (1: the journal is flushed; 2: half
    // the overwrite is done; 3: the book is cut to length; 4: the book is flushed).
    int packHalting(int step) {
        platform::armFault(platform::Fault::halt, step);
        int result = pack(book, folder, {"cover.jpg"});
        platform::disarmFaults();
        return result;
    }
    // The journals beside the book.
    std::vector<fs::path> journals() const {
        std::vector<fs::path> found;
        for (const auto& entry : fs::directory_iterator(dir.path()))
            if (entry.path().filename().string().rfind(".vellum-journal-", 0) == 0) found.push_back(entry.path());
        return found;
    }
    bool holdsNewCover() const {
        return readFile(book).find(referenceEncode(newCover)) != std::string::npos && listBook(book).size() == 3;
    }
    // Nothing but the book's two names is left.
    bool alone() const { return std::distance(fs::directory_iterator(dir.path()), {}) == 2; }
};

enum class Opener { list, detect, pack };

struct Stop {
    const char* label;
    int step;
    bool grows;
    Opener opener;
};

class InterruptedSave : public testing::TestWithParam<Stop> {};

TEST_P(InterruptedSave, NextOpenFindsTheOldBookOrTheNewWhole) {
    const Stop& stop = GetParam();
    Scene s(stop.grows);
    ASSERT_EQ(s.packHalting(stop.step), E_EWRITE);
    ASSERT_EQ(s.journals().size(), 1u) << "the stopped save left its journal";
    if (stop.step == 2) {
        EXPECT_FALSE(readFile(s.book) == s.original) << "the book was left half-written";
    }

    switch (stop.opener) {
    case Opener::list:
        EXPECT_EQ(listBook(s.book).size(), 3u);
        break;
    case Opener::detect:
        EXPECT_EQ(CanYouHandleThisFile(s.book.data()), 1);
        break;
    case Opener::pack:
        // The pack plays the journal back first, then saves the book over again.
        EXPECT_EQ(pack(s.book, s.folder, {"cover.jpg"}), 0);
        EXPECT_TRUE(s.holdsNewCover());
        break;
    }
    EXPECT_TRUE(s.journals().empty()) << "the journal stayed";
    EXPECT_TRUE(s.alone());
    // Once cut to length the book holds all its new bytes (a kill loses none of them,
    // a power loss may, and the book is then played back).
    if (stop.opener != Opener::pack) {
        if (stop.step < 3) {
            EXPECT_TRUE(readFile(s.book) == s.original) << "not played back";
        } else {
            EXPECT_TRUE(s.holdsNewCover()) << "a complete save was undone";
        }
    }
    EXPECT_TRUE(readFile(s.dir.file("link.fb2")) == readFile(s.book)) << "the two names parted";
}

INSTANTIATE_TEST_SUITE_P(
    Steps, InterruptedSave,
    testing::Values(Stop{"JournalFlushed", 1, true, Opener::list}, Stop{"HalfWrittenGrowing", 2, true, Opener::detect},
                    Stop{"HalfWrittenShrinking", 2, false, Opener::pack}, Stop{"CutToLength", 3, false, Opener::list},
                    Stop{"GrownToLength", 3, true, Opener::pack}, Stop{"BookFlushed", 4, false, Opener::detect},
                    Stop{"BookFlushedThenPacked", 4, true, Opener::pack}),
    [](const testing::TestParamInfo<Stop>& info) { return std::string(info.param.label); });

void changeByte(const fs::path& file, std::uint64_t at) {
    std::fstream stream(file, std::ios::in | std::ios::out | std::ios::binary);
    stream.seekg(static_cast<std::streamoff>(at));
    char c = 0;
    stream.get(c);
    stream.seekp(static_cast<std::streamoff>(at));
    stream.put(static_cast<char>(c ^ 0x20));
}

// A journal that does not hold what it says is never played back: the book is left
// as it is (here half-written on purpose, so that a play-back would show) and the
// journal removed.
TEST(Journal, TornOrDamagedIsRemovedUnplayed) {
    const std::function<void(const fs::path&)> damages[] = {
        [](const fs::path& j) { fs::resize_file(j, fs::file_size(j) - 1); },  // torn before its end
        [](const fs::path& j) { changeByte(j, fs::file_size(j) - 10); },      // a saved byte changed
        [](const fs::path& j) { changeByte(j, 40); },                         // a length in the header changed
        [](const fs::path& j) { fs::resize_file(j, 50); },                    // torn inside the header
    };
    for (const auto& damage : damages) {
        Scene s(true);
        ASSERT_EQ(s.packHalting(2), E_EWRITE);
        ASSERT_EQ(s.journals().size(), 1u);
        damage(s.journals()[0]);
        std::string halfWritten = readFile(s.book);
        CanYouHandleThisFile(s.book.data());
        EXPECT_TRUE(readFile(s.book) == halfWritten) << "played back";
        EXPECT_TRUE(s.journals().empty());
    }
}

// A journal that outlived its save (its removal lost) is not played back over a
// book someone else changed since: to another length, or before the first byte the
// save changed.
TEST(Journal, StaleIsNotPlayedBackOverAChangedBook) {
    const std::function<void(Scene&)> changes[] = {
        [](Scene& s) { writeFile(s.book, readFile(s.book) + "\n"); },
        [](Scene& s) {
            std::string text = readFile(s.book);
            text.replace(text.find("1.0"), 3, "1.1");
            writeFile(s.book, text);
        },
    };
    for (const auto& change : changes) {
        Scene s(false);
        ASSERT_EQ(s.packHalting(2), E_EWRITE);
        change(s);
        std::string changed = readFile(s.book);
        listBook(s.book);
        EXPECT_TRUE(readFile(s.book) == changed) << "played back";
        EXPECT_TRUE(s.journals().empty());
    }
}

// Opens look in the user's state folder too, where a save puts its journal when the
// book's folder takes none.
TEST(Journal, FoundInTheStateFolder) {
    Scene s(true);
    std::string state = platform::system::makeStateFolder();
    ASSERT_FALSE(state.empty());
    platform::armFault(platform::Fault::create, 1);  // the book's folder refuses the journal
    EXPECT_EQ(pack(s.book, s.folder, {"cover.jpg"}), 0);
    platform::disarmFaults();
    EXPECT_TRUE(s.holdsNewCover());
    EXPECT_TRUE(s.alone());

    writeFile(s.book, s.original);
    ASSERT_EQ(s.packHalting(2), E_EWRITE);
    ASSERT_EQ(s.journals().size(), 1u);
    fs::path moved = platform::system::inFolder(state, s.journals()[0].filename().string());
    fs::rename(s.journals()[0], moved);
    EXPECT_EQ(listBook(s.book).size(), 3u);
    EXPECT_TRUE(readFile(s.book) == s.original) << "not played back";
    EXPECT_FALSE(fs::exists(moved));
}

}  // namespace
