#include "journal/install_log.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/file_system.hpp"
#include "platform/locale.hpp"
#include "platform/utf16.hpp"

namespace mw {
namespace {

// ---------------------------------------------------------------- text codecs

// One line of ANSI text in the interface language's code page. A byte the
// code page does not define becomes U+FFFD; a code page the system cannot
// convert keeps ASCII and replaces every other byte.
std::u32string DecodeAnsi(std::string_view bytes, unsigned codePage) {
    return platform::Utf16ToUtf32(
        platform::Utf8ToUtf16(platform::ConvertFromCodePage(bytes, codePage)));
}

// What the locale classes as white space.
bool IsSpace(char32_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
           c == 0x205F || c == 0x3000;
}

std::u32string_view TrimEnd(std::u32string_view s) {
    while (!s.empty() && IsSpace(s.back())) s.remove_suffix(1);
    return s;
}

std::u32string_view TrimStart(std::u32string_view s) {
    while (!s.empty() && IsSpace(s.front())) s.remove_prefix(1);
    return s;
}

std::u32string_view Trim(std::u32string_view s) {
    return TrimStart(TrimEnd(s));
}

// ------------------------------------------------------------------ line source

// Splits a file into lines (each up to and including its line feed; the last
// may end at the end of the file), decoded to code points. Memory grows with
// the longest line only.
class LineSource {
public:
    LineSource(platform::InputFile& in, unsigned codePage) : in_(in), codePage_(codePage) {
        Fill(2);
        utf16_ = Available() >= 2 && buffer_[pos_] == 0xFF && buffer_[pos_ + 1] == 0xFE;
        if (utf16_) pos_ += 2;
    }

    // False at the end of the file or at a read error (see failed()).
    bool Next(std::u32string& line) {
        if (utf16_) {
            std::u16string units;
            for (;;) {
                if (Available() < 2 && !Fill(2)) break;
                char16_t u = static_cast<char16_t>(buffer_[pos_] | (buffer_[pos_ + 1] << 8));
                pos_ += 2;
                units += u;
                if (u == u'\n') break;
            }
            // A last odd byte cannot form a unit and is dropped; a line cut
            // short by a read error is not taken.
            if (units.empty() || failed_) return false;
            line = platform::Utf16ToUtf32(units);
        } else {
            std::string bytes;
            for (;;) {
                if (Available() == 0 && !Fill(1)) break;
                const uint8_t* begin = buffer_.data() + pos_;
                const uint8_t* end = buffer_.data() + buffer_.size();
                const uint8_t* lf = std::find(begin, end, uint8_t('\n'));
                bool found = lf != end;
                if (found) ++lf;
                bytes.append(reinterpret_cast<const char*>(begin), lf - begin);
                pos_ += lf - begin;
                if (found) break;
            }
            if (bytes.empty() || failed_) return false;
            line = DecodeAnsi(bytes, codePage_);
        }
        return true;
    }

    bool failed() const { return failed_; }

private:
    std::size_t Available() const { return buffer_.size() - pos_; }

    // Makes at least `need` bytes available unless the file ends first.
    bool Fill(std::size_t need) {
        if (Available() >= need) return true;
        buffer_.erase(buffer_.begin(), buffer_.begin() + pos_);
        pos_ = 0;
        while (!eof_ && buffer_.size() < need) {
            std::size_t old = buffer_.size();
            buffer_.resize(old + kChunk);
            std::size_t got = 0;
            std::error_code ec = in_.Read(buffer_.data() + old, kChunk, got);
            buffer_.resize(old + (ec ? 0 : std::min(got, kChunk)));
            if (ec) failed_ = true;
            if (ec || got == 0) eof_ = true;
        }
        return Available() >= need;
    }

    static constexpr std::size_t kChunk = 64 * 1024;
    platform::InputFile& in_;
    unsigned codePage_;
    std::vector<uint8_t> buffer_;
    std::size_t pos_ = 0;
    bool utf16_ = false;
    bool eof_ = false;
    bool failed_ = false;
};

// --------------------------------------------------------------- entry parser

// Reads fields the way a formatted input stream does: every number and every
// single character may be preceded by white space.
class FieldCursor {
public:
    explicit FieldCursor(std::u32string_view s) : s_(s) {}

    void SkipSpace() {
        while (i_ < s_.size() && IsSpace(s_[i_])) ++i_;
    }

    // An optionally signed integer that fits in 32 bits.
    bool Integer(int base, int64_t& value) {
        SkipSpace();
        bool negative = false;
        if (i_ < s_.size() && (s_[i_] == U'+' || s_[i_] == U'-')) negative = s_[i_++] == U'-';
        if (base == 16 && i_ + 2 < s_.size() && s_[i_] == U'0' &&
            (s_[i_ + 1] == U'x' || s_[i_ + 1] == U'X') && Digit(s_[i_ + 2], base) >= 0) {
            i_ += 2;
        }
        int64_t v = 0;
        std::size_t start = i_;
        while (i_ < s_.size() && Digit(s_[i_], base) >= 0) {
            v = v * base + Digit(s_[i_], base);
            if (v > int64_t(INT32_MAX) + 1) return false;
            ++i_;
        }
        if (i_ == start) return false;
        value = negative ? -v : v;
        return value >= INT32_MIN && value <= INT32_MAX;
    }

    bool Char(char32_t& c) {
        SkipSpace();
        if (i_ >= s_.size()) return false;
        c = s_[i_++];
        return true;
    }

    bool Word(std::u32string_view& word) {
        SkipSpace();
        std::size_t start = i_;
        while (i_ < s_.size() && !IsSpace(s_[i_])) ++i_;
        word = s_.substr(start, i_ - start);
        return i_ > start;
    }

    std::u32string_view Rest() {
        SkipSpace();
        return s_.substr(i_);
    }

private:
    static int Digit(char32_t c, int base) {
        int d = -1;
        if (c >= U'0' && c <= U'9') d = static_cast<int>(c - U'0');
        if (c >= U'a' && c <= U'f') d = static_cast<int>(c - U'a') + 10;
        if (c >= U'A' && c <= U'F') d = static_cast<int>(c - U'A') + 10;
        return d < base ? d : -1;
    }

    std::u32string_view s_;
    std::size_t i_ = 0;
};

bool ParseEntry(std::u32string_view line, JournalEntry& entry) {
    FieldCursor f(line);
    int64_t number;
    if (!f.Integer(10, number) || number < 0) return false;
    char32_t c;
    if (!f.Char(c) || c != U':') return false;
    int64_t code;
    if (!f.Integer(16, code)) return false;
    int64_t kind = code >> 8;
    if (kind < 0 || kind > 7) return false;
    int32_t fileKind = static_cast<int32_t>(code & 0xFF);
    if (!f.Char(c) || c != U':') return false;
    if (!f.Char(c) || (c != U'0' && c != U'1')) return false;
    bool succeeded = c == U'1';
    std::u32string_view word;
    if (!f.Word(word) || word != U"--") return false;
    std::u32string_view text = f.Rest();

    entry = JournalEntry{};
    entry.kind = static_cast<JournalEntryKind>(kind);
    entry.fileKind = fileKind == 255 ? -1 : fileKind;
    entry.succeeded = succeeded;
    if (entry.kind != JournalEntryKind::UninstallKey &&
        entry.kind != JournalEntryKind::ApplicationRegistration) {
        entry.path = platform::Utf32ToUtf8(text);
    }
    return true;
}

// Text after `key` in `line`; false when `key` is not there.
bool After(std::u32string_view line, std::u32string_view key, std::u32string_view& rest) {
    std::size_t at = line.find(key);
    if (at == std::u32string_view::npos) return false;
    rest = line.substr(at + key.size());
    return true;
}

// The text after a header key ending in a blank. The writer puts the key
// alone on the line when its folder is empty, and the line's trailing blank
// is gone by the time the key is looked for: a line that ends with the key
// without that blank names an empty folder.
bool HeaderValue(std::u32string_view line, std::u32string_view key, std::u32string_view& rest) {
    if (After(line, key, rest)) return true;
    std::u32string_view bare = TrimEnd(key);
    if (line.ends_with(bare)) {
        rest = {};
        return true;
    }
    return false;
}

class MemoryInput : public platform::InputFile {
public:
    MemoryInput(const void* data, std::size_t size)
        : data_(static_cast<const uint8_t*>(data)), size_(size) {}
    std::error_code Read(void* data, std::size_t size, std::size_t& got) override {
        got = std::min(size, size_ - pos_);
        if (got) std::memcpy(data, data_ + pos_, got);
        pos_ += got;
        return {};
    }

private:
    const uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

}  // namespace

// ---------------------------------------------------------------------- writer

std::string InstallLogFile::FormatEntry(std::size_t number, const JournalEntry& entry) {
    uint32_t code =
        (static_cast<uint32_t>(entry.kind) << 8) + (static_cast<uint32_t>(entry.fileKind) & 0xFF);
    char head[64];
    std::snprintf(head, sizeof head, "%04zu:%04x:%c -- ", number, code,
                  entry.succeeded ? '1' : '0');
    return head + entry.path;
}

bool InstallLogFile::Write(const std::string& path, const std::string& product,
                           const std::string& installFolder, const std::string& startMenuFolder,
                           const std::list<JournalEntry>& entries) {
    // Every line is trusted by the next elevated run: a text holding a line
    // break would add lines of someone else's choosing. A header text with
    // one writes nothing, and the earlier log stays as it was; an entry with
    // one is left out (below), so that the rest can still be uninstalled.
    auto breaksLine = [](std::string_view text) {
        return text.find_first_of("\r\n") != std::string_view::npos;
    };
    if (breaksLine(product) || breaksLine(installFolder) || breaksLine(startMenuFolder)) {
        return false;
    }
    auto& fs = platform::Files();
    std::error_code ec;
    // An earlier log is read-only; give its owner write permission back so
    // that it can be replaced.
    platform::FileInfo info = fs.Status(path, ec);
    bool earlier = !ec && info.type == platform::FileType::Regular;
    if (earlier) fs.SetMode(path, info.mode | S_IWUSR);

    std::unique_ptr<platform::OutputFile> out = fs.OpenForWrite(path, ec);
    if (!out || ec) {
        // The earlier log stays as it was, read-only too.
        if (earlier) fs.SetMode(path, info.mode);
        return false;
    }

    static const uint8_t bom[2] = {0xFF, 0xFE};
    bool ok = !out->Write(bom, sizeof bom);
    std::vector<uint8_t> bytes;
    auto writeLine = [&](std::u16string_view line) {
        bytes.clear();
        for (char16_t u : line) {
            bytes.push_back(static_cast<uint8_t>(u & 0xFF));
            bytes.push_back(static_cast<uint8_t>(u >> 8));
        }
        for (uint8_t b : {0x0D, 0x00, 0x0A, 0x00}) bytes.push_back(b);
        if (out->Write(bytes.data(), bytes.size())) ok = false;
    };

    std::u16string shortcutLine = u"Shortcut Path : " + platform::Utf8ToUtf16(startMenuFolder);
    writeLine(u"// Uninstall Log File v1");
    writeLine(u"// ############ WARNING: Do not delete or modify this file. ############");
    writeLine(u"// Install " + platform::Utf8ToUtf16(product));
    writeLine(u"// Install Path : " + platform::Utf8ToUtf16(installFolder));
    writeLine(u"// " + shortcutLine);
    writeLine(u"// " + std::u16string(shortcutLine.size(), u'-'));
    std::size_t number = 0;
    for (const JournalEntry& entry : entries) {
        // Such an item is left out, and the log counts as not complete.
        if (breaksLine(entry.path)) {
            ok = false;
            continue;
        }
        writeLine(platform::Utf8ToUtf16(FormatEntry(number++, entry)));
    }

    if (out->Close()) ok = false;
    out.reset();
    info = fs.Status(path, ec);
    if (!ec && info.type == platform::FileType::Regular) {
        fs.SetMode(path, info.mode & ~uint32_t(S_IWUSR | S_IWGRP | S_IWOTH));
    }
    return ok;
}

// ---------------------------------------------------------------------- reader

InstallLogContents InstallLogFile::Read(const std::string& path, unsigned codePage) {
    std::error_code ec;
    std::unique_ptr<platform::InputFile> in = platform::Files().OpenForRead(path, ec);
    if (!in || ec) {
        InstallLogContents contents;
        contents.end = InstallLogContents::End::ReadError;
        return contents;
    }
    return Read(*in, codePage);
}

InstallLogContents InstallLogFile::Parse(const void* data, std::size_t size, unsigned codePage) {
    MemoryInput in(data, size);
    return Read(in, codePage);
}

InstallLogContents InstallLogFile::Read(platform::InputFile& in, unsigned codePage) {
    InstallLogContents c;
    LineSource source(in, codePage);
    std::u32string decoded;
    std::size_t index = 0;
    auto stop = [&] {
        c.end = InstallLogContents::End::Stopped;
        c.stopLine = index;
        return c;
    };
    while (source.Next(decoded)) {
        if (decoded.empty()) continue;
        std::u32string_view line = TrimEnd(decoded);
        if (line.size() >= 2 && line[0] == U'/' && line[1] == U'/') {
            while (!line.empty() && line.front() == U'/') line.remove_prefix(1);
            line = TrimStart(line);
            std::u32string_view rest;
            switch (index) {
                case 0: {
                    if (!After(line, U"Uninstall Log File v", rest)) return stop();
                    FieldCursor f(rest);
                    int64_t version;
                    c.version = f.Integer(10, version) ? static_cast<int>(version) : 0;
                    if (c.version != 1) return stop();
                    break;
                }
                case 2: {
                    if (!After(line, U"Install", rest)) return stop();
                    std::size_t dashes = rest.find(U"--");
                    if (dashes != std::u32string_view::npos) rest = rest.substr(0, dashes);
                    c.product = platform::Utf32ToUtf8(Trim(rest));
                    break;
                }
                case 3:
                    if (!HeaderValue(line, U"Install Path : ", rest)) return stop();
                    c.installPath = platform::Utf32ToUtf8(Trim(rest));
                    break;
                case 4:
                    if (!HeaderValue(line, U"Shortcut Path : ", rest)) return stop();
                    c.shortcutPath = platform::Utf32ToUtf8(Trim(rest));
                    break;
                default:
                    break;
            }
        } else {
            if (c.version != 1) return stop();
            JournalEntry entry;
            if (!ParseEntry(line, entry)) return stop();
            c.entries.push_back(std::move(entry));
        }
        ++index;
    }
    c.end =
        source.failed() ? InstallLogContents::End::ReadError : InstallLogContents::End::EndOfFile;
    return c;
}

}  // namespace mw
