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

#include <cstdio>

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

// Prints the parse error and the usage of the command being parsed, on standard error.
int usageError(const CLI::App& app, const CLI::ParseError& error) {
    const CLI::App* command = &app;
    for (const CLI::App* sub : app.get_subcommands()) command = sub;
    message("%s\n", error.what());
    host::writeText(stderr, command->help(command == &app ? "" : "vellum"));
    return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
    host::prepareProcess();
    // The arguments in UTF-8, the command's text throughout.
    std::vector<std::string> arguments = host::arguments(argc, argv);
    std::vector<const char*> argumentPointers{"vellum"};
    for (const std::string& argument : arguments) argumentPointers.push_back(argument.c_str());

    CLI::App app{"vellum opens a FictionBook 2 book (.fb2) as an archive of its pictures (its binary elements),\n"
                 "through the vellum packer plug-in, driven the way a file manager drives it.",
                 "vellum"};
    app.footer(kExitStatuses);
    app.require_subcommand(1);
    app.set_version_flag("--version", "vellum " VELLUM_VERSION);

    std::string pluginPath;
    Options options;
    app.add_option("--plugin", pluginPath, kPluginHelp)->type_name("PATH");
    app.add_flag("-q,--quiet", options.quiet, "No progress bar and no closing summary on standard error");
    bool ansi = false;
    app.add_flag("--ansi", ansi,
                 "Call the plug-in's 8-bit functions even when it has the Unicode ones (names then pass "
                 "through the system code page)");

    bool json = false;
    CLI::App* list = app.add_subcommand("list", "List the entries: size, packed size, date, time, type and name");
    list->add_option("book", options.book, "The book")->required()->type_name("PATH");
    list->add_flag("--json", json, "Machine-readable listing (UTF-8 JSON)");

    CLI::App* test = app.add_subcommand("test", "Test every entry; exit status 1 when any fails");
    test->add_option("book", options.book, "The book")->required()->type_name("PATH");

    std::string folder;
    std::vector<std::string> names;
    bool noIndex = false;
    bool overwrite = false;
    CLI::App* extract = app.add_subcommand(
        "extract", "Extract all entries, or the named ones (names match regardless of case)");
    extract->add_option("book", options.book, "The book")->required()->type_name("PATH");
    extract->add_option("names", names, "Entries to extract (default: all, files.bbs included)")->type_name("NAME");
    extract->add_option("-o,--output", folder, "Folder to extract into, made when missing (default: the current folder)")
        ->type_name("DIR");
    extract->add_flag("--no-index", noIndex, "Leave out the generated index files.bbs when extracting all");
    extract->add_flag("--overwrite", overwrite, "Write over existing files of the same name");
    extract->footer(
        "Existing files of the same name are kept and named on standard error (exit status 1)\n"
        "unless --overwrite is given; the book itself and the plug-in are never written over.\n"
        "Names that would leave the folder (\"../x\", \"a/b\") or that the system does not accept\n"
        "are written with \"_\" in place of the offending characters, and the new name is told\n"
        "on standard error.");

    std::string entryName;
    CLI::App* cat = app.add_subcommand("cat", "Write one entry's bytes to standard output");
    cat->add_option("book", options.book, "The book")->required()->type_name("PATH");
    cat->add_option("name", entryName, "The entry (matched regardless of case)")->required()->type_name("NAME");

    std::vector<std::string> files;
    bool move = false;
    CLI::App* replace = app.add_subcommand(
        "replace", "Put each file in place of the entry named as the file (regardless of case)");
    replace->add_option("book", options.book, "The book, rewritten in place")->required()->type_name("PATH");
    replace->add_option("files", files, "Files whose names are entries of the book")->required()->type_name("FILE");
    replace->add_flag("--move", move, "Delete each file once it is in the book");
    replace->footer(
        "Files that match no entry are named on standard error and left out; a file of 512 MiB\n"
        "or more, or the book itself, is refused and nothing is changed. The book gets one\n"
        "note in its history for each folder the files come from: the plug-in is called once per\n"
        "folder. When a call fails, the book keeps what earlier calls put in and nothing of the\n"
        "failed one.");

    for (CLI::App* sub : {list, test, extract, cat, replace}) sub->fallthrough();

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

    options.showProgress = !options.quiet && host::stderrIsTerminal();

    host::HostThread thread;
    if (std::string error; !thread.ready(error)) {
        message("%s", error.c_str());
        return kExitNoPlugin;
    }
    Plugin plugin;
    options.plugin = pluginPath.empty() ? defaultPluginPath() : pluginPath;
    if (std::string error; !plugin.load(options.plugin, ansi, error)) {
        message("%s", error.c_str());
        return kExitNoPlugin;
    }
    const PluginExports& api = plugin.api();

    if (list->parsed()) return listCommand(api, options, json);
    if (test->parsed()) return testCommand(api, options);
    if (extract->parsed()) return extractCommand(api, options, folder, names, !noIndex, overwrite);
    if (cat->parsed()) return catCommand(api, options, entryName);
    return replaceCommand(api, options, files, move);
}
