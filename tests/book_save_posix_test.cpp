// A save keeps the file the user had: the book a link names, its other names, its
// owner, mode, ACL and attributes; books of any name length; books in folders or of
// owners that allow no new file; and a full disk, a second user or a killed run
// leave the book whole.
#include "platform/fault_seam.h"
#include "support/book_fixture.h"
#include "support/isolation.h"
#include "support/pack_helpers.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <thread>

#include <grp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

using namespace vellum;
using namespace vellum::test;
namespace fs = std::filesystem;

namespace {

// What of a file a save must keep.
struct Kept {
    mode_t mode = 0;
    uid_t uid = 0;
    gid_t gid = 0;
    nlink_t links = 0;
    ino_t inode = 0;
    std::map<std::string, std::string> attributes;  // the ACL among them
};

Kept keptOf(const std::string& path) {
    Kept k;
    struct stat st{};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    k.mode = st.st_mode, k.uid = st.st_uid, k.gid = st.st_gid, k.links = st.st_nlink, k.inode = st.st_ino;
    char names[4096];
    ssize_t size = ::listxattr(path.c_str(), names, sizeof names);
    for (ssize_t at = 0; at < size; at += static_cast<ssize_t>(std::strlen(names + at)) + 1) {
        char value[4096];
        ssize_t length = ::getxattr(path.c_str(), names + at, value, sizeof value);
        k.attributes[names + at] = std::string(value, length > 0 ? static_cast<std::size_t>(length) : 0);
    }
    return k;
}

std::set<std::string> namesIn(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename().string());
    return names;
}

const std::string kNewPicture = "NEW PICTURE";

// A book with one picture, and the file that replaces it in a folder of its own.
struct Scene {
    TempDir dir, sources;
    std::string real = dir.file("book.fb2");  // the book's own file
    std::string packed = real;                 // the name the host packs into
    std::string folder = sources.path().string() + "/";
    Scene() {
        writeFile(sources.file("cover.jpg"), kNewPicture);
        writeFile(real, test::book("<description><document-info><history/></document-info></description>" +
                                   binary("cover.jpg", "image/jpeg", "T0xE")));
    }
    bool saved() const { return readFile(real).find(referenceEncode(kNewPicture)) != std::string::npos; }
};

struct KeptCase {
    const char* label;
    std::function<std::string(Scene&)> prepare;  // a reason to skip, or ""
    bool inPlace;                                // no new file can stand for this book
};

class SaveKeeps : public testing::TestWithParam<KeptCase> {};

TEST_P(SaveKeeps, TheUsersFile) {
    Scene s;
    if (std::string skip = GetParam().prepare(s); !skip.empty()) GTEST_SKIP() << skip;
    Kept before = keptOf(s.real);
    std::set<std::string> names = namesIn(s.dir.path());
    ASSERT_EQ(pack(s.packed, s.folder, {"cover.jpg"}), 0);
    EXPECT_TRUE(s.saved());
    Kept after = keptOf(s.real);
    EXPECT_EQ(after.mode, before.mode);
    EXPECT_EQ(after.uid, before.uid);
    EXPECT_EQ(after.gid, before.gid);
    EXPECT_EQ(after.links, before.links);
    EXPECT_EQ(after.attributes, before.attributes);
    EXPECT_EQ(after.inode == before.inode, GetParam().inPlace) << "written in place";
    if (s.packed != s.real) {
        EXPECT_EQ(fs::is_symlink(s.packed), GetParam().label == std::string("SymbolicLink")) << "the link stays a link";
        EXPECT_EQ(readFile(s.packed), readFile(s.real));
    }
    EXPECT_EQ(namesIn(s.dir.path()), names) << "a new file stayed";
}

INSTANTIATE_TEST_SUITE_P(
    Books, SaveKeeps,
    testing::Values(
        KeptCase{"SymbolicLink",
                 [](Scene& s) {
                     s.packed = s.dir.file("l.fb2");
                     fs::create_symlink("book.fb2", s.packed);
                     return "";
                 },
                 false},
        KeptCase{"HardLink",
                 [](Scene& s) {
                     fs::create_hard_link(s.real, s.dir.file("other.fb2"));
                     s.packed = s.dir.file("other.fb2");
                     return "";
                 },
                 true},
        KeptCase{"AclAndAttributes",
                 [](Scene& s) -> std::string {
                     ::chmod(s.real.c_str(), 0600);
                     if (std::system(("setfacl -m u:nobody:rw '" + s.real + "' 2>/dev/null").c_str()) != 0)
                         return "the file system refuses ACLs here (or setfacl is missing)";
                     const char url[] = "https://example.org/book.fb2";
                     if (::setxattr(s.real.c_str(), "user.xdg.origin.url", url, sizeof url - 1, 0) != 0)
                         return "the file system refuses extended attributes here";
                     return "";
                 },
                 false},
        KeptCase{"SetIdBits",
                 [](Scene& s) {
                     ::chmod(s.real.c_str(), 06640);
                     return "";
                 },
                 false},
        KeptCase{"OtherOwner",
                 [](Scene& s) -> std::string {
                     if (::geteuid() != 0) return "only root can give a book another owner";
                     return ::chown(s.real.c_str(), 4001, 4000) == 0 ? "" : "chown refused";
                 },
                 false},
        KeptCase{"NameOf250Bytes",
                 [](Scene& s) {
                     std::string name;
                     while (name.size() < 246) name += "\xd0\xba";  // Cyrillic "к", two bytes
                     s.packed = s.dir.file(name + ".fb2");
                     fs::rename(s.real, s.packed);
                     s.real = s.packed;
                     return "";
                 },
                 false}),
    [](const testing::TestParamInfo<KeptCase>& info) { return std::string(info.param.label); });

// Runs `body` in a child process as the user 4002 (group 4002, also in group 4000),
// with a state folder of its own in `state`.
std::string asSecondUser(const std::function<int()>& body, const TempDir& state) {
    EXPECT_EQ(::chown(state.path().c_str(), 4002, 4002), 0);
    IsolatedRun run = runIsolated(
        [&] {
            gid_t groups[] = {4000};
            if (::setgroups(1, groups) != 0 || ::setgid(4002) != 0 || ::setuid(4002) != 0) return std::string("no");
            ::setenv("XDG_STATE_HOME", state.path().c_str(), 1);
            return std::to_string(body());
        },
        120);
    return run.finished ? run.report : "child: " + run.report;
}

struct UserCase {
    const char* label;
    std::function<void(Scene&)> prepare;
};

class SecondUserSaves : public testing::TestWithParam<UserCase> {};

// Where no new file can stand for the book, the user's own writing of it is used.
TEST_P(SecondUserSaves, InPlaceKeepingOwnerAndMode) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as a second user";
    Scene s;
    TempDir state;
    GetParam().prepare(s);
    Kept before = keptOf(s.real);
    EXPECT_EQ(asSecondUser([&] { return pack(s.packed, s.folder, {"cover.jpg"}); }, state), "0");
    ::chmod(s.dir.path().c_str(), 0755);
    EXPECT_TRUE(s.saved());
    Kept after = keptOf(s.real);
    EXPECT_EQ(after.uid, before.uid);
    EXPECT_EQ(after.gid, before.gid);
    EXPECT_EQ(after.mode, before.mode);
    EXPECT_EQ(after.inode, before.inode);
    EXPECT_EQ(namesIn(s.dir.path()), std::set<std::string>{"book.fb2"});
    if (fs::exists(state.path() / "vellum")) {
        EXPECT_TRUE(fs::is_empty(state.path() / "vellum")) << "a journal stayed in the state folder";
    }
}

// A user who may read a book but not write it, meeting the journal of a save killed
// halfway, does not read the half-written book: it is refused until someone who may
// write it opens it and the journal is played back.
TEST(InterruptedSave, ReaderWhoCannotWriteIsRefused) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as a second user";
    Scene s;
    TempDir state;
    std::string original = readFile(s.real);
    fs::create_hard_link(s.real, s.dir.file("other.fb2"));
    ::chmod(s.real.c_str(), 0644);
    platform::armFault(platform::Fault::halt, 2);
    EXPECT_EQ(pack(s.packed, s.folder, {"cover.jpg"}), E_EWRITE);
    platform::disarmFaults();
    ASSERT_NE(readFile(s.real), original);
    std::string book = s.real;
    EXPECT_EQ(asSecondUser([&] { return CanYouHandleThisFile(book.data()); }, state), "0");
    EXPECT_EQ(asSecondUser([&] { return listBook(book).empty() ? 1 : 0; }, state), "1");
    EXPECT_EQ(listBook(s.real).size(), 2u);
    EXPECT_TRUE(readFile(s.real) == original) << "not played back";
    EXPECT_EQ(namesIn(s.dir.path()), (std::set<std::string>{"book.fb2", "other.fb2"}));

    // A journal another user could have put there (theirs, and they may not write
    // the book) is neither played back nor removed.
    platform::armFault(platform::Fault::halt, 2);
    EXPECT_EQ(pack(s.packed, s.folder, {"cover.jpg"}), E_EWRITE);
    platform::disarmFaults();
    std::string halfWritten = readFile(s.real);
    for (const std::string& name : namesIn(s.dir.path())) {
        if (name.rfind(".vellum-journal-", 0) == 0) {
            EXPECT_EQ(::chown(s.dir.file(name).c_str(), 4003, 4003), 0);
        }
    }
    CanYouHandleThisFile(s.real.data());
    EXPECT_TRUE(readFile(s.real) == halfWritten) << "a stranger's journal was played back";
    EXPECT_EQ(namesIn(s.dir.path()).size(), 3u);
}

INSTANTIATE_TEST_SUITE_P(
    Users, SecondUserSaves,
    testing::Values(UserCase{"GroupMemberSavesAnothersBook",
                             [](Scene& s) {
                                 ::chmod(s.dir.path().c_str(), 0777);
                                 ASSERT_EQ(::chown(s.real.c_str(), 4001, 4000), 0);
                                 ::chmod(s.real.c_str(), 0664);
                             }},
                    UserCase{"OwnBookInAReadOnlyFolder",
                             [](Scene& s) {
                                 ASSERT_EQ(::chown(s.real.c_str(), 4002, 4002), 0);
                                 ::chmod(s.dir.path().c_str(), 0555);
                             }}),
    [](const testing::TestParamInfo<UserCase>& info) { return std::string(info.param.label); });

TEST(InPlaceSave, FullDiskLeavesTheBookWhole) {
    Scene s;
    fs::create_hard_link(s.real, s.dir.file("other.fb2"));
    writeFile(s.sources.file("cover.jpg"), std::string(64 << 10, 'x'));
    std::uint64_t before = fileHash(s.real);
    auto limit = static_cast<rlim_t>(fs::file_size(s.real) + 100);
    IsolatedRun run = runIsolated(
        [&] {
            std::signal(SIGXFSZ, SIG_IGN);
            rlimit size{limit, limit};
            ::setrlimit(RLIMIT_FSIZE, &size);
            return std::to_string(pack(s.packed, s.folder, {"cover.jpg"}));
        },
        120);
    EXPECT_EQ(run.report, std::to_string(E_EWRITE));
    EXPECT_EQ(fileHash(s.real), before);
    EXPECT_EQ(namesIn(s.dir.path()), (std::set<std::string>{"book.fb2", "other.fb2"}));
}

// A pack killed at a random moment leaves the old book or the new one. Replaced in
// one step, it leaves at most a new file under a name of ours, which the next save
// removes once its run is gone; written in place (a second name), its journal, which
// the next open plays back or removes.
struct KillCase {
    const char* label;
    bool inPlace;
    int kills;
};

class KilledSave : public testing::TestWithParam<KillCase> {};

TEST_P(KilledSave, LeavesTheOldBookOrTheNew) {
    const KillCase& kill = GetParam();
    Scene s;
    std::mt19937 random(12345);
    std::string picture(3 << 20, '\0');
    for (char& c : picture) c = static_cast<char>(random());
    writeFile(s.sources.file("cover.jpg"), picture);
    std::string original = test::book("<description><document-info><history/></document-info></description>" +
                                      binary("cover.jpg", "image/jpeg", referenceEncode(std::string(3 << 20, 'o'))));
    writeFile(s.real, original);
    std::set<std::string> alone = {"book.fb2"};
    if (kill.inPlace) {
        fs::create_hard_link(s.real, s.dir.file("other.fb2"));
        alone.insert("other.fb2");
    }
    double whole = runIsolated([&] { return std::to_string(pack(s.packed, s.folder, {"cover.jpg"})); }, 120).seconds;

    int old = 0, fresh = 0, leftovers = 0;
    for (int i = 0; i < kill.kills; ++i) {
        writeFile(s.real, original);
        pid_t child = ::fork();
        if (child == 0) ::_exit(pack(s.packed, s.folder, {"cover.jpg"}));
        std::this_thread::sleep_for(std::chrono::duration<double>(whole * 1.2 * (random() % 1000) / 1000.0));
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
        std::vector<ListedEntry> entries = listBook(s.real);
        if (readFile(s.real) == original) {
            ++old;
        } else {
            ++fresh;
            ASSERT_EQ(entries.size(), 2u) << "kill " << i << ": the book does not open whole";
            EXPECT_EQ(entries[0].unpSize, static_cast<int>(picture.size())) << "kill " << i;
        }
        for (const std::string& name : namesIn(s.dir.path())) {
            if (alone.count(name) != 0) continue;
            ++leftovers;
            EXPECT_FALSE(kill.inPlace) << "kill " << i << " left " << name;
            EXPECT_EQ(name.rfind(".vellum-", 0), 0u) << "kill " << i << " left " << name;
            fs::remove(s.dir.path() / name);
        }
    }
    std::printf("%d kills in a %.0f ms save %s: %d left the old book, %d the new one, %d a named new file\n",
                kill.kills, whole * 1000, kill.label, old, fresh, leftovers);
}

INSTANTIATE_TEST_SUITE_P(Saves, KilledSave,
                         testing::Values(KillCase{"OneStep", false, 40}, KillCase{"InPlace", true, 8}),
                         [](const testing::TestParamInfo<KillCase>& info) { return std::string(info.param.label); });

// Names as a killed run leaves them, this version's and an earlier one's, go; one of
// a live process stays, and so does the journal of another book.
TEST(KilledSaveLeftovers, AreRemovedOnceTheirRunIsGone) {
    Scene s;
    pid_t gone = ::fork();
    if (gone == 0) ::_exit(0);
    ::waitpid(gone, nullptr, 0);
    writeFile(s.dir.file(".vellum-" + std::to_string(gone) + "-7.tmp"), "x");
    writeFile(s.dir.file("book.fb2.vellum-" + std::to_string(gone) + "-0.tmp"), "x");
    writeFile(s.dir.file(".vellum-1-0.tmp"), "x");
    const std::string journal = ".vellum-journal-0000000000000801-0000000000001234";
    writeFile(s.dir.file(journal), "x");
    EXPECT_EQ(pack(s.packed, s.folder, {"cover.jpg"}), 0);
    EXPECT_EQ(namesIn(s.dir.path()), (std::set<std::string>{"book.fb2", ".vellum-1-0.tmp", journal}));
}

// FAT keeps no modes or owners: through FUSE (fusefat) fchmod answers ENOSYS, and a
// new file still takes the book's place in one step.
TEST(FatThroughFuse, SavesInOneStep) {
    if (::geteuid() != 0) GTEST_SKIP() << "mounting a FAT image through FUSE needs root here";
    if (::access("/dev/fuse", R_OK | W_OK) != 0) GTEST_SKIP() << "no /dev/fuse";
    if (std::system("command -v fusefat >/dev/null && command -v mkfs.vfat >/dev/null") != 0)
        GTEST_SKIP() << "fusefat or mkfs.vfat (dosfstools) is missing";
    TempDir work, sources;
    std::string image = work.file("fat.img"), mount = work.file("mnt");
    fs::create_directory(mount);
    if (std::system(("truncate -s 16M '" + image + "' && mkfs.vfat '" + image + "' >/dev/null && fusefat -o rw+ '" +
                     image + "' '" + mount + "' 2>/dev/null")
                        .c_str()) != 0)
        GTEST_SKIP() << "the FAT image could not be mounted through FUSE";
    std::string book = mount + "/book.fb2";
    writeFile(sources.file("cover.jpg"), kNewPicture);
    writeFile(book, test::book("<description><document-info><history/></document-info></description>" +
                               binary("cover.jpg", "image/jpeg", "T0xE")));
    ino_t before = keptOf(book).inode;
    EXPECT_EQ(pack(book, sources.path().string() + "/", {"cover.jpg"}), 0);
    EXPECT_NE(readFile(book).find(referenceEncode(kNewPicture)), std::string::npos);
    EXPECT_NE(keptOf(book).inode, before) << "saved in place: a new file did not take the book's place";
    EXPECT_EQ(namesIn(mount), std::set<std::string>{"book.fb2"});
    EXPECT_EQ(std::system(("fusermount -u '" + mount + "'").c_str()), 0);
}
}  // namespace
