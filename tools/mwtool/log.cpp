// mwtool log read FILE: shows what the installer takes from an install log,
// one tab-separated record a line. A log without byte order mark is read in
// the ANSI code page of the user's language unless --code-page names one. The exit code is 0 also
// for a log that stops early: the output shows how far it was taken.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "command.hpp"
#include "journal/journal.hpp"
#include "platform/locale.hpp"

namespace mwtool {
namespace {

int Usage() {
    std::fprintf(stderr, "usage: mwtool log read [--code-page N] FILE\n");
    return 2;
}

// Texts are written whole, also one that holds a zero character.
void Line(const std::string& head, const std::string& text) {
    std::fwrite(head.data(), 1, head.size(), stdout);
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fputc('\n', stdout);
}

int LogCommand(const Args& args) {
    if (args.empty() || args[0] != "read") return Usage();
    // The user's language decides, as it does for the installer.
    unsigned codePage = mw::platform::SystemAnsiCodePage();
    std::string file;
    for (std::size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "--code-page" && i + 1 < args.size()) {
            char* end = nullptr;
            unsigned long value = std::strtoul(args[++i].c_str(), &end, 10);
            if (!end || *end || value == 0 || value > 65535) return Usage();
            codePage = static_cast<unsigned>(value);
        } else if (file.empty()) {
            file = args[i];
        } else {
            return Usage();
        }
    }
    if (file.empty()) return Usage();

    // The product's names only matter for writing.
    mw::InstallJournal journal("", "");
    journal.ReadLog(file, codePage);
    Line("product\t", journal.previousProduct);
    Line("install_path\t", journal.installPath);
    Line("shortcut_path\t", journal.shortcutPath);
    for (const mw::JournalEntry& e : journal.PreviousEntries()) {
        Line("entry\t" + std::to_string(static_cast<int>(e.kind)) + "\t" +
                 std::to_string(e.fileKind) + "\t" + (e.succeeded ? "1" : "0") + "\t",
             e.path);
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}

const Command kLog("log", "log read [--code-page N] FILE", LogCommand);

}  // namespace
}  // namespace mwtool
