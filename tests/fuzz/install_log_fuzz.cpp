// Fuzz target of the install log reader. Any bytes, read in any code page of
// the interface languages, must be read without fault, and what is taken must
// keep the reader's promises: kinds 0 to 7, file kinds -1 to 254, no text for
// the uninstall key and the registration, texts in valid UTF-8.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "journal/install_log.hpp"

namespace {

// Well-formed UTF-8: no stray or missing continuation byte, no overlong
// form, no surrogate, nothing above U+10FFFF.
bool ValidUtf8(std::string_view s) {
    for (std::size_t i = 0; i < s.size();) {
        unsigned char b = static_cast<unsigned char>(s[i]);
        int extra;
        uint32_t c;
        uint32_t min;
        if (b < 0x80) {
            ++i;
            continue;
        } else if ((b & 0xE0) == 0xC0) {
            extra = 1, c = b & 0x1F, min = 0x80;
        } else if ((b & 0xF0) == 0xE0) {
            extra = 2, c = b & 0x0F, min = 0x800;
        } else if ((b & 0xF8) == 0xF0) {
            extra = 3, c = b & 0x07, min = 0x10000;
        } else {
            return false;
        }
        if (i + extra >= s.size()) return false;
        for (int k = 1; k <= extra; ++k) {
            unsigned char t = static_cast<unsigned char>(s[i + k]);
            if ((t & 0xC0) != 0x80) return false;
            c = (c << 6) | (t & 0x3F);
        }
        if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
        i += extra + 1;
    }
    return true;
}

void Check(bool condition) {
    if (!condition) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The code pages of the interface languages, and one iconv does not know.
    static const unsigned kCodePages[] = {1252, 1250, 1251, 1253, 1254, 1257,
                                          932,  936,  949,  950,  874,  12345};
    unsigned codePage = size ? kCodePages[data[0] % std::size(kCodePages)] : 1252;
    mw::InstallLogContents got = mw::InstallLogFile::Parse(data, size, codePage);

    Check(got.version == 0 || got.version == 1 || got.end == mw::InstallLogContents::End::Stopped);
    Check(got.entries.empty() || got.version == 1);
    Check(ValidUtf8(got.product) && ValidUtf8(got.installPath) && ValidUtf8(got.shortcutPath));
    for (const mw::JournalEntry& e : got.entries) {
        int kind = static_cast<int>(e.kind);
        Check(kind >= 0 && kind <= 7);
        Check(e.fileKind >= -1 && e.fileKind <= 254);
        Check(e.backupPath.empty());
        if (e.kind == mw::JournalEntryKind::UninstallKey ||
            e.kind == mw::JournalEntryKind::ApplicationRegistration) {
            Check(e.path.empty());
        }
        Check(ValidUtf8(e.path));
    }
    return 0;
}
