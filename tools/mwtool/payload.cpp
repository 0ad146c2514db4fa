// mwtool payload: builds, lists, tests and extracts payload archives.
//
//   payload create OUT MANIFEST [--sort]
//   payload list FILE
//   payload test FILE
//   payload verify FILE   (only the check the installer makes before writing:
//                          exit 0 when intact, 1 with the error 4 or 6)
//   payload extract FILE --install-folder DIR [--temp-folder DIR]
//                        [--sample-folder-name TEXT] [--quiet]
//
// A manifest is UTF-8 text, one entry a line, three fields separated by tabs:
// the kind (a number), the destination directory as stored (such as
// "<InstallPath>\Lang") and the source file (its path text is stored as the
// source path; a relative one is read from the manifest's folder). Empty
// lines and lines starting with '#' are skipped.
#include <algorithm>
#include <boost/iostreams/filter/bzip2.hpp>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "command.hpp"
#include "engine/compress_error.hpp"
#include "engine/payload_extractor.hpp"
#include "engine/payload_source.hpp"
#include "engine/payload_writer.hpp"
#include "engine/tokens.hpp"
#include "platform/memstream.hpp"

namespace {

namespace fs = std::filesystem;
using mw::notification;

constexpr const char* kUsage =
    "payload create OUT MANIFEST [--sort] | list FILE | test FILE | verify FILE | "
    "extract FILE --install-folder DIR [--temp-folder DIR] [--sample-folder-name TEXT] [--quiet]";

int Usage() {
    std::fprintf(stderr, "usage: mwtool %s\n", kUsage);
    return 2;
}

std::string Absolute(const std::string& path) {
    if (path.empty()) return path;
    std::string text = fs::absolute(fs::path(path)).lexically_normal().string();
    while (text.size() > 1 && text.back() == '/') text.pop_back();
    return text;
}

std::string CodeLine(const std::error_code& code) {
    return mw::FailureCodeText(code) + " (" + code.message() + ")";
}

// ---- create ---------------------------------------------------------------

bool CaseLess(const std::string& a, const std::string& b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y - 'A' + 'a');
        if (x != y) return x < y;
    }
    return a.size() < b.size();
}

std::vector<mw::PayloadInput> ReadManifest(const std::string& manifest) {
    std::ifstream in(manifest, std::ios::binary);
    if (!in) throw std::runtime_error(manifest + ": cannot read: " + std::strerror(errno));
    const fs::path base = fs::absolute(fs::path(manifest)).parent_path();
    std::vector<mw::PayloadInput> inputs;
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        auto fail = [&](const std::string& why) {
            throw std::runtime_error(manifest + ":" + std::to_string(number) + ": " + why);
        };
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        std::vector<std::string> fields;
        std::stringstream split(line);
        for (std::string field; std::getline(split, field, '\t');) fields.push_back(field);
        if (line.back() == '\t') fields.push_back({});
        if (fields.size() != 3)
            fail(
                "expected 3 tab-separated fields (kind, destination directory, source file), got " +
                std::to_string(fields.size()));
        mw::PayloadInput input;
        const std::string& kind = fields[0];
        const auto [end, ec] = std::from_chars(kind.data(), kind.data() + kind.size(), input.kind);
        if (kind.empty() || ec != std::errc() || end != kind.data() + kind.size())
            fail("kind is not a 32-bit number: \"" + kind + "\"");
        input.directory = fields[1];
        input.source = fields[2];
        if (input.source.empty()) fail("empty source file");
        input.file = Absolute((base / fs::path(input.source)).string());
        try {
            mw::PayloadEntry probe;
            probe.source = input.source;
            probe.destination = input.directory;
            (void)mw::EncodePayloadTable({probe});
            (void)mw::DestinationFileName(input.source);
        } catch (const std::invalid_argument& e) {
            fail(e.what());
        } catch (const std::system_error&) {
            fail("source path has no file name: \"" + input.source + "\"");
        }
        inputs.push_back(std::move(input));
    }
    if (in.bad()) throw std::runtime_error(manifest + ": read error");
    return inputs;
}

int Create(const mwtool::Args& args) {
    std::vector<std::string> positional;
    bool sort = false;
    for (std::size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "--sort")
            sort = true;
        else if (args[i].rfind("--", 0) == 0)
            return Usage();
        else
            positional.push_back(args[i]);
    }
    if (positional.size() != 2) return Usage();
    const std::string& out = positional[0];
    std::vector<mw::PayloadInput> inputs = ReadManifest(positional[1]);
    if (sort)
        std::stable_sort(inputs.begin(), inputs.end(),
                         [](const auto& a, const auto& b) { return CaseLess(a.source, b.source); });
    // Written beside the target and renamed into place, so that a failure
    // leaves no half archive behind.
    const std::string partial = out + ".partial";
    try {
        std::ofstream file(partial, std::ios::binary | std::ios::trunc);
        if (!file) throw std::runtime_error(partial + ": cannot create: " + std::strerror(errno));
        mw::WritePayload(inputs, file);
        file.close();
        if (!file) throw std::runtime_error(partial + ": write error");
        fs::rename(partial, out);
    } catch (...) {
        std::error_code ignored;
        fs::remove(partial, ignored);
        throw;
    }
    return 0;
}

// ---- list -----------------------------------------------------------------

struct TableComplete {};

uint64_t LoadLE64(const std::string& bytes) {
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(bytes[i]);
    return v;
}

int List(const std::string& path) {
    mw::PayloadSource source;
    if (auto ec = source.OpenFile(path)) throw fs::filesystem_error("cannot open", path, ec);
    std::string table;
    uint64_t tableSize = 0;
    try {
        // Decodes only as far as the table reaches.
        mw::DecodePayload(source, [&](const char* data, std::size_t n) -> std::size_t {
            const uint64_t want = table.size() < 8 ? 8 : tableSize;
            const auto take = static_cast<std::size_t>(std::min<uint64_t>(n, want - table.size()));
            table.append(data, take);
            if (table.size() == 8) {
                tableSize = LoadLE64(table);
                if (tableSize < mw::kPayloadTableHeaderSize || tableSize > mw::kPayloadMaxTableSize)
                    throw std::system_error(mw::CompressError::UnexpectedError,
                                            "table size out of range");
            }
            if (table.size() >= mw::kPayloadTableHeaderSize && table.size() == tableSize)
                throw TableComplete{};
            return take;
        });
        throw std::system_error(mw::CompressError::UnexpectedError, "stream ends inside the table");
    } catch (const TableComplete&) {
    }
    mw::imemstream in(table.data(), table.size());
    const mw::PayloadArchive archive = mw::ParsePayloadTable(in, tableSize);
    std::printf("table_size\t%llu\nentry_count\t%zu\ntotal\t%llu\n",
                static_cast<unsigned long long>(archive.tableSize), archive.entries.size(),
                static_cast<unsigned long long>(archive.total));
    for (std::size_t i = 0; i < archive.entries.size(); ++i) {
        const auto& e = archive.entries[i];
        std::printf("%zu\t%d\t%llu\t%08x\t%s\t%s\n", i, static_cast<int>(e.kind),
                    static_cast<unsigned long long>(e.size), e.crc, e.destination.c_str(),
                    e.source.c_str());
    }
    return 0;
}

// ---- test and extract -------------------------------------------------------

// What the install sequence does on Started: prove the compressed stream
// intact, then read it again from its start.
void VerifyAndRewind(mw::PayloadSource& source) {
    if (!source.Verify()) throw std::system_error(mw::CompressError::VerificationFailed);
    source.Rewind();
}

int Test(const std::string& path) {
    mw::PayloadSource source;
    if (auto ec = source.OpenFile(path)) throw fs::filesystem_error("cannot open", path, ec);
    std::error_code failure;
    const bool ok = mw::CheckPayload(source, [&](const notification& n) {
        if (n.index() == 0) VerifyAndRewind(source);
        if (const auto* f = std::get_if<notification::Failed>(&n.value)) failure = f->code;
        return notification::result::Continue;
    });
    if (ok) return 0;
    std::printf("%s\n", mw::FailureCodeText(failure).c_str());
    std::fprintf(stderr, "mwtool payload test: %s: %s\n", path.c_str(), CodeLine(failure).c_str());
    return 1;
}

int VerifyCommand(const std::string& path) {
    mw::PayloadSource source;
    if (auto ec = source.OpenFile(path)) throw fs::filesystem_error("cannot open", path, ec);
    if (source.Verify()) return 0;
    const std::error_code code = mw::make_error_code(mw::CompressError::VerificationFailed);
    std::printf("%s\n", mw::FailureCodeText(code).c_str());
    std::fprintf(stderr, "mwtool payload verify: %s: %s\n", path.c_str(), CodeLine(code).c_str());
    return 1;
}

int ExtractCommand(const mwtool::Args& args) {
    std::string file, installFolder, tempFolder, sampleFolderName;
    bool haveInstall = false, quiet = false;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string& to) {
            if (i + 1 >= args.size()) return false;
            to = args[++i];
            return true;
        };
        if (a == "--install-folder") {
            if (!value(installFolder)) return Usage();
            haveInstall = true;
        } else if (a == "--temp-folder") {
            if (!value(tempFolder)) return Usage();
        } else if (a == "--sample-folder-name") {
            if (!value(sampleFolderName)) return Usage();
        } else if (a == "--quiet") {
            quiet = true;
        } else if (a.rfind("--", 0) == 0 || !file.empty()) {
            return Usage();
        } else {
            file = a;
        }
    }
    if (file.empty() || !haveInstall) return Usage();
    mw::PayloadSource source;
    if (auto ec = source.OpenFile(file)) throw fs::filesystem_error("cannot open", file, ec);
    std::size_t started = 0, done = 0;
    std::error_code failure;
    std::string failurePath;
    const bool ok = mw::Extract(
        source, Absolute(installFolder), sampleFolderName, Absolute(tempFolder),
        [&](const notification& n) {
            const auto& v = n.value;
            if (std::holds_alternative<notification::Started>(v)) {
                std::printf("Started\n");
                std::fflush(stdout);
                VerifyAndRewind(source);
            } else if (const auto* p = std::get_if<notification::Progress>(&v)) {
                if (!quiet)
                    std::printf("Progress\t%llu\t%llu\n",
                                static_cast<unsigned long long>(p->processed),
                                static_cast<unsigned long long>(p->total));
            } else if (const auto* s = std::get_if<notification::EntryStarted>(&v)) {
                std::printf("EntryStarted\t%zu\t%s\n", started++, s->entry.destination.c_str());
            } else if (const auto* d = std::get_if<notification::EntryDone>(&v)) {
                std::printf("EntryDone\t%zu\t%s\n", done++, d->entry.destination.c_str());
            } else if (const auto* f = std::get_if<notification::Finished>(&v)) {
                std::printf("Finished\t%llu\t%llu\n",
                            static_cast<unsigned long long>(f->compressedRead),
                            static_cast<unsigned long long>(f->total));
            } else if (const auto* f = std::get_if<notification::Failed>(&v)) {
                std::printf("Failed\t%s\t%s\n", mw::FailureCodeText(f->code).c_str(),
                            f->path.c_str());
                failure = f->code;
                failurePath = f->path;
            }
            return notification::result::Continue;
        });
    std::fflush(stdout);
    if (ok) return 0;
    std::fprintf(stderr, "mwtool payload extract: %s: %s%s%s\n", file.c_str(),
                 CodeLine(failure).c_str(), failurePath.empty() ? "" : " at ", failurePath.c_str());
    return 1;
}

int Payload(const mwtool::Args& args) {
    if (args.empty()) return Usage();
    const std::string& sub = args[0];
    try {
        if (sub == "create") return Create(args);
        if (sub == "extract") return ExtractCommand(args);
        if (args.size() != 2) return Usage();
        if (sub == "list") return List(args[1]);
        if (sub == "test") return Test(args[1]);
        if (sub == "verify") return VerifyCommand(args[1]);
    } catch (const boost::iostreams::bzip2_error& e) {
        const std::error_code code = mw::make_error_code(mw::CompressError::Bzip2Error);
        std::fprintf(stderr, "mwtool payload %s: %s\n", sub.c_str(), CodeLine(code).c_str());
        return 1;
    } catch (const std::system_error& e) {
        std::fprintf(stderr, "mwtool payload %s: %s (%s)\n", sub.c_str(), e.what(),
                     mw::FailureCodeText(e.code()).c_str());
        return 1;
    }
    return Usage();
}

const mwtool::Command command{"payload", kUsage, Payload};

}  // namespace
