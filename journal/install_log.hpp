// The install log "Uninstall.ulog": the one file through which an
// installation tells the product's uninstaller (and the next installer) what
// it did. Written in UTF-16LE with a byte order mark and CR LF line ends: six
// header lines, then one line "NNNN:CCCC:S -- text" per journal entry. The
// reader also takes logs without byte order mark, converting them from an
// ANSI code page.
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <string>
#include <string_view>

#include "journal/journal.hpp"

namespace mw::platform {
class InputFile;
}

namespace mw {

// What a reading took from a log, before any check against the file system.
struct InstallLogContents {
    enum class End {
        EndOfFile,  // every line was taken
        ReadError,  // the file could not be opened or read to its end
        Stopped,    // a line broke the format's rules
    };

    int version = 0;
    std::string product;       // from "Install ...", cut before "--"
    std::string installPath;   // text of "Install Path : " (folder not checked)
    std::string shortcutPath;  // text of "Shortcut Path : " (folder not checked)
    std::list<JournalEntry> entries;
    End end = End::EndOfFile;
    // Index of the line that stopped the reading (counting the lines taken).
    std::size_t stopLine = 0;
};

class InstallLogFile {
public:
    static constexpr std::string_view kFileName = "Uninstall.ulog";
    static constexpr std::string_view kApplicationRegistrationText = "HKEY_CLASSES_ROOT\\...";

    // Writes the log, replacing an earlier one (also a read-only one), and
    // makes it read-only. `product` is the text after "Install " on the third
    // line. Entries are written with their paths as they are. True when every
    // write succeeded; the file is closed and made read-only in any case.
    // A text holding CR or LF would break the log's lines: an entry with one
    // is left out (the result is then false), and a header text with one
    // writes nothing at all.
    static bool Write(const std::string& path, const std::string& product,
                      const std::string& installFolder, const std::string& startMenuFolder,
                      const std::list<JournalEntry>& entries);

    // Reads a log from a file (`codePage` converts a log without byte order
    // mark). Reading ends quietly at the end of the file, at a read error or
    // at the first line that breaks the rules; what was taken stays.
    static InstallLogContents Read(const std::string& path, unsigned codePage);
    static InstallLogContents Read(platform::InputFile& in, unsigned codePage);
    // The same over bytes in memory.
    static InstallLogContents Parse(const void* data, std::size_t size, unsigned codePage);

    // One entry line without its line end, as the writer forms it.
    static std::string FormatEntry(std::size_t number, const JournalEntry& entry);
};

}  // namespace mw
