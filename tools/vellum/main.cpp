// vellum: opens a FictionBook book through the vellum packer plug-in, as a file
// manager does, to list, test, extract and replace its pictures from the command line.
#include "host.h"
#include "output.h"
#include "plugin.h"
#include "read_commands.h"
#include "replace_command.h"
#include "vellum.h"
#include "vellum_version.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

using namespace vellum;
using namespace vellum::tool;

namespace {

const char kExitStatuses[] =
    "Exit status:\n"
    "  0    everything asked was done\n"
    "  1    done in part: an entry failed its test or could not be extracted or written,\n"
    "       an existing file was kept, a name given matched no entry, or a file given\n"
    "       cannot be read or is too large\n"
    "  2    bad arguments, or a file to put into the book that is the book itself\n"
    "  3    the book cannot be opened: missing, unreadable, not XML, or not a FictionBook book\n"
    "  4    the book could not be changed; it is left as it was\n"
    "  5    the plug-in cannot be loaded\n"
    "  130  interrupted (Ctrl+C); a half-written file is removed, a book left as it was\n";

// The plug-in loaded when none is named: the one built beside vellum (VELLUM_PLUGIN_NAME),
// else the one installed for Double Commander (VELLUM_INSTALLED_PLUGIN, relative to
// vellum's folder).
std::string defaultPluginPath() {
    std::string folder = host::executableFolder();
    std::string beside = folder + VELLUM_PLUGIN_NAME;
#ifdef VELLUM_INSTALLED_PLUGIN
    if (host::pathKind(beside) == host::PathKind::missing) {
        std::string installed = folder + VELLUM_INSTALLED_PLUGIN;
        if (host::pathKind(installed) == host::PathKind::file) return installed;
    }
#endif
    return beside;
}

#ifdef VELLUM_INSTALLED_PLUGIN
const char kPluginHelp[] = "The plug-in to load (default: " VELLUM_PLUGIN_NAME " beside vellum, else "
                           VELLUM_INSTALLED_PLUGIN " from vellum's folder)";
#else
const char kPluginHelp[] = "The plug-in to load (default: " VELLUM_PLUGIN_NAME " beside vellum)";
#endif

// CLI11 reads an argument in brackets as a list ("[a,b]" as "a" and "b"), but the
// command's arguments are paths and names, whatever they hold. Such an argument
// reaches the parser with a mark after it, which keeps it whole, and loses the mark
// once parsed. The mark is the unit separator, a control character; an argument
// that already ends in marks gets one more, so every argument comes back as given.
constexpr char kWholeMark = '\x1F';

bool bracketed(std::string_view argument) {
    std::size_t last = argument.find_last_not_of(kWholeMark);
    return argument.size() >= 2 && argument.front() == '[' && last != std::string_view::npos && argument[last] == ']';
}

std::string keptWhole(std::string argument) {
    if (bracketed(argument)) argument += kWholeMark;
    return argument;
}

void restore(std::string& value) {
    if (bracketed(value) && value.back() == kWholeMark) value.pop_back();
}

// What the command line asks for.
struct CommandLine {
    Options options;
    std::string pluginPath;
    bool ansi = false;
    std::vector<std::string> names;  // extract: the entries; replace: the files
    std::string entryName;
    CLI::App* list = nullptr;
    CLI::App* test = nullptr;
    CLI::App* extract = nullptr;
    CLI::App* cat = nullptr;
    CLI::App* replace = nullptr;

    // The values as the user gave them.
    void restoreAll() {
        for (std::string* value : {&options.book, &options.folder, &pluginPath, &entryName}) restore(*value);
        for (std::string& name : names) restore(name);
    }
};

// The options and commands, bound to `line`.
void declare(CLI::App& app, CommandLine& line) {
    Options& options = line.options;
    app.footer(kExitStatuses);
    app.require_subcommand(1);
    // "/books/a.fb2" is a path, on Windows too: no option is written with a slash.
    // Set before the commands are added, which take it over.
    app.allow_windows_style_options(false);
    app.set_version_flag("--version", "vellum " VELLUM_VERSION);
    app.add_option("--plugin", line.pluginPath, kPluginHelp)->type_name("PATH");
    app.add_flag("-q,--quiet", options.quiet, "No progress bar and no closing summary on standard error");
    app.add_flag("--ansi", line.ansi,
                 "Call the plug-in's 8-bit functions even when it has the Unicode ones (names then pass "
                 "through the system code page)");

    line.list = app.add_subcommand("list", "List the entries: size, packed size, date, time, type and name");
    line.list->add_option("book", options.book, "The book")->required()->type_name("PATH");
    line.list->add_flag("--json", options.json, "Machine-readable listing (UTF-8 JSON)");

    line.test = app.add_subcommand("test", "Test every entry; exit status 1 when any fails");
    line.test->add_option("book", options.book, "The book")->required()->type_name("PATH");

    CLI::App* extract = line.extract = app.add_subcommand(
        "extract", "Extract all entries, or the named ones (names match regardless of case)");
    extract->add_option("book", options.book, "The book")->required()->type_name("PATH");
    extract->add_option("names", line.names, "Entries to extract (default: all, files.bbs included)")
        ->type_name("NAME");
    extract
        ->add_option("-o,--output", options.folder,
                     "Folder to extract into, made when missing (default: the current folder)")
        ->type_name("DIR");
    extract->add_flag("--no-index", options.noIndex, "Leave out the generated index files.bbs when extracting all");
    extract->add_flag("--overwrite", options.overwrite, "Write over existing files of the same name");
    extract->footer(
        "Existing files of the same name are kept and named on standard error (exit status 1)\n"
        "unless --overwrite is given; the book itself and the plug-in are never written over.\n"
        "Names that would leave the folder (\"../x\", \"a/b\") or that the system does not accept\n"
        "are written with \"_\" in place of the offending characters, and the new name is told\n"
        "on standard error.");

    line.cat = app.add_subcommand("cat", "Write one entry's bytes to standard output");
    line.cat->add_option("book", options.book, "The book")->required()->type_name("PATH");
    line.cat->add_option("name", line.entryName, "The entry (matched regardless of case)")
        ->required()
        ->type_name("NAME");

    CLI::App* replace = line.replace = app.add_subcommand(
        "replace", "Put each file in place of the entry named as the file (regardless of case)");
    replace->add_option("book", options.book, "The book, rewritten in place")->required()->type_name("PATH");
    replace->add_option("files", line.names, "Files whose names are entries of the book")
        ->required()
        ->type_name("FILE");
    replace->add_flag("--move", options.move, "Delete each file once it is in the book");
    replace->footer(
        "Files that match no entry are named on standard error and left out; a file of 512 MiB\n"
        "or more, or the book itself, is refused and nothing is changed. The book gets one\n"
        "note in its history for each folder the files come from: the plug-in is called once per\n"
        "folder. When a call fails, the book keeps what earlier calls put in and nothing of the\n"
        "failed one.");

    for (CLI::App* sub : {line.list, line.test, extract, line.cat, replace}) sub->fallthrough();
}

// Prints the parse error and the usage of the command being parsed, on standard error.
int usageError(const CLI::App& app, const CLI::ParseError& error) {
    const CLI::App* command = &app;
    for (const CLI::App* sub : app.get_subcommands()) command = sub;
    std::string why = error.what();
    why.erase(std::remove(why.begin(), why.end(), kWholeMark), why.end());
    message("%s\n", why.c_str());
    host::writeText(stderr, command->help(command == &app ? "" : "vellum"));
    return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
    host::prepareProcess();
    // The arguments in UTF-8, the command's text throughout.
    std::vector<std::string> arguments = host::arguments(argc, argv);
    for (std::string& argument : arguments) argument = keptWhole(std::move(argument));
    std::vector<const char*> argumentPointers{"vellum"};
    for (const std::string& argument : arguments) argumentPointers.push_back(argument.c_str());

    CLI::App app{"vellum opens a FictionBook 2 book (.fb2) as an archive of its pictures (its binary elements),\n"
                 "through the vellum packer plug-in, driven the way a file manager drives it.",
                 "vellum"};
    CommandLine line;
    declare(app, line);
    try {
        app.parse(static_cast<int>(argumentPointers.size()), argumentPointers.data());
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        return usageError(app, e);
    }
    line.restoreAll();
    Options& options = line.options;
    options.showProgress = !options.quiet && host::stderrIsTerminal();

    host::HostThread thread;
    if (std::optional<std::string> error = thread.failure()) {
        message("%s", error->c_str());
        return kExitNoPlugin;
    }
    Plugin plugin;
    options.plugin = line.pluginPath.empty() ? defaultPluginPath() : line.pluginPath;
    FunctionSet functions = line.ansi ? FunctionSet::eightBit : FunctionSet::unicodeWhenExported;
    if (std::optional<std::string> error = plugin.load(options.plugin, functions)) {
        message("%s", error->c_str());
        return kExitNoPlugin;
    }
    const PluginExports& api = plugin.api();

    if (line.list->parsed()) return listCommand(api, options);
    if (line.test->parsed()) return testCommand(api, options);
    if (line.extract->parsed()) return extractCommand(api, options, line.names);
    if (line.cat->parsed()) return catCommand(api, options, line.entryName);
    return replaceCommand(api, options, line.names);
}
