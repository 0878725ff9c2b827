// Kills `vellum replace` of one picture of a generated 54 MB book at random moments
// and, after each kill, lists the book with `vellum list` as a user would next: the
// book must be the old one byte for byte, or the new one (byte for byte the clean
// save's outside the history note, the picture's bytes those of the new file), and
// nothing but the book's own names may stay in its folder. With a second hard link
// the save is written in place under its journal; without, it is replaced in one
// step. With --in-journal (in place), each kill falls at a random moment after the
// journal appears, where the book is being written. Prints one line per kill and a
// tally.
//
//   vellum_kill_bench VELLUM FOLDER [KILLS] [--one-step | --in-journal]
#include "book_generator.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

std::string readAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

// Writes into the file that is there, so that its hard links stay.
void overwrite(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Runs vellum with `arguments`, its output to /dev/null; the child's pid.
pid_t start(const std::string& vellum, std::vector<std::string> arguments) {
    std::fflush(nullptr);
    pid_t child = ::fork();
    if (child == 0) {
        if (std::freopen("/dev/null", "w", stdout) == nullptr) ::_exit(126);
        std::vector<char*> argv{const_cast<char*>(vellum.c_str())};
        for (std::string& a : arguments) argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execv(vellum.c_str(), argv.data());
        ::_exit(127);
    }
    return child;
}

int finish(pid_t child) {
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

bool hasJournal(const fs::path& folder) {
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.path().filename().string().rfind(".vellum-journal-", 0) == 0) return true;
    return false;
}

// Waits until a journal appears in `folder` or `child` ends; the moment it appeared.
Clock::time_point awaitJournal(const fs::path& folder, pid_t child) {
    while (!hasJournal(folder)) {
        int status = 0;
        if (::waitpid(child, &status, WNOHANG) == child) std::exit(3);  // ended without one
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return Clock::now();
}

// The book without its last history note: what two saves of one replacement share.
std::string withoutNote(const std::string& book) {
    std::size_t history = book.find("</history>");
    std::size_t note = history == std::string::npos ? history : book.rfind("<p>", history);
    if (note == std::string::npos) return book;
    return book.substr(0, note) + book.substr(history);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s VELLUM FOLDER [KILLS] [--one-step]\n", argv[0]);
        return 2;
    }
    const std::string vellum = fs::absolute(argv[1]).string();
    const fs::path work = argv[2];
    const int kills = argc > 3 ? std::atoi(argv[3]) : 40;
    const std::string mode = argc > 4 ? argv[4] : "";
    const bool inPlace = mode != "--one-step", inJournal = mode == "--in-journal";
    fs::create_directories(work / "book");
    fs::create_directories(work / "src");
    const fs::path book = work / "book" / "book.fb2", link = work / "book" / "link.fb2";
    const fs::path picture = work / "src" / "picture-3.jpg", reference = work / "reference.fb2";

    vellum::bench::writeSyntheticBook(book.string(), 40, 1 << 20);
    std::string pictureBytes(5 << 20, '\0');
    std::mt19937 random(2024);
    for (char& b : pictureBytes) b = static_cast<char>(random());
    overwrite(picture, pictureBytes);
    const std::string original = readAll(book);
    fs::remove(link);
    if (inPlace) fs::create_hard_link(book, link);

    // A clean save, the yardstick of the new book and of the save's length.
    fs::copy_file(book, reference, fs::copy_options::overwrite_existing);
    fs::remove(work / "reference-link.fb2");
    if (inPlace) fs::create_hard_link(reference, work / "reference-link.fb2");
    Clock::time_point begun = Clock::now();
    pid_t clean = start(vellum, {"-q", "replace", reference.string(), picture.string()});
    if (inJournal) begun = awaitJournal(work, clean);
    if (finish(clean) != 0) return 1;
    const double whole = std::chrono::duration<double>(Clock::now() - begun).count();
    const std::string fresh = withoutNote(readAll(reference));
    std::printf("%s save of a %.1f MB book: %.0f ms clean%s; %d kills\n", inPlace ? "in-place" : "one-step",
                original.size() / 1e6, whole * 1000, inJournal ? " from the journal's appearance" : "", kills);
    std::printf("kill  after ms  the kill left        listed  book   picture  left beside\n");

    int old = 0, saved = 0, broken = 0, strays = 0, halves = 0;
    for (int i = 1; i <= kills; ++i) {
        overwrite(book, original);
        double delay = whole * 1.1 * static_cast<double>(random() % 1000) / 1000.0;
        pid_t child = start(vellum, {"-q", "replace", book.string(), picture.string()});
        if (inJournal) awaitJournal(work / "book", child);
        std::this_thread::sleep_for(std::chrono::duration<double>(delay));
        ::kill(child, SIGKILL);
        finish(child);
        // What the kill left, before the next open looks.
        std::string killed = readAll(book);
        bool journal = hasJournal(work / "book");
        const char* left = killed == original ? "old" : withoutNote(killed) == fresh ? "new" : "half";
        int listed = finish(start(vellum, {"-q", "list", book.string()}));
        std::string now = readAll(book);
        const char* state = "BROKEN";
        const char* cover = "-";
        if (now == original) {
            state = "old", ++old;
        } else if (withoutNote(now) == fresh) {
            fs::path out = work / "cat.jpg";
            std::string command = "'" + vellum + "' cat '" + book.string() + "' picture-3.jpg > '" + out.string() + "'";
            cover = std::system(command.c_str()) == 0 && readAll(out) == pictureBytes ? "new" : "WRONG";
            state = "new", ++saved;
        } else {
            ++broken;
        }
        std::string beside;
        for (const auto& entry : fs::directory_iterator(work / "book")) {
            std::string name = entry.path().filename().string();
            if (name != "book.fb2" && name != "link.fb2") beside += name + " ";
        }
        if (!beside.empty()) ++strays;
        if (std::string(left) == "half") ++halves;
        if (inPlace && readAll(link) != now) beside += "(the two names differ)";
        std::printf("%4d  %8.0f  %-4s %-15s  %6d  %-5s  %-7s  %s\n", i, delay * 1000, left,
                    journal ? "and its journal" : "", listed, state, cover, beside.empty() ? "nothing" : beside.c_str());
    }
    std::printf("%d kills (%d left a half-written book): the next list found %d old, %d new, %d broken; %d left "
                "something beside the book\n",
                kills, halves, old, saved, broken, strays);
    return broken == 0 && strays == 0 ? 0 : 1;
}
