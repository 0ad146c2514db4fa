#include "platform/registry_detail.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unicode/utf8.h>
#include <unistd.h>

#include <algorithm>
#include <boost/crc.hpp>
#include <cerrno>
#include <cstring>
#include <set>

#include "platform/case_fold.hpp"
#include "platform/os_error.hpp"
#include "platform/path.hpp"

namespace mw::platform::regdetail {
namespace {

constexpr char kMagic[8] = {'M', 'W', 'R', 'E', 'G', 'K', 'E', 'Y'};
constexpr uint32_t kFormatVersion = 1;

std::error_code Errc(std::errc e) {
    return OsError(e);
}
std::error_code Errno(int e) {
    return OsError(e);
}

bool IsUtf8(std::string_view text) {
    const auto* s = reinterpret_cast<const uint8_t*>(text.data());
    int32_t i = 0;
    const auto n = static_cast<int32_t>(text.size());
    if (text.size() > INT32_MAX) return false;
    while (i < n) {
        UChar32 c;
        U8_NEXT(s, i, n, c);
        if (c < 0) return false;
    }
    return true;
}

void PutU32(std::string& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

void PutBytes(std::string& out, std::string_view bytes) {
    PutU32(out, static_cast<uint32_t>(bytes.size()));
    out.append(bytes);
}

void EncodeNode(std::string& out, const KeySnapshot& node) {
    PutU32(out, static_cast<uint32_t>(node.values.size()));
    for (const auto& v : node.values) {
        PutBytes(out, v.name);
        PutU32(out, static_cast<uint32_t>(v.value.type));
        PutBytes(out, std::string_view(reinterpret_cast<const char*>(v.value.data.data()),
                                       v.value.data.size()));
    }
    PutU32(out, static_cast<uint32_t>(node.subkeys.size()));
    for (const auto& s : node.subkeys) {
        PutBytes(out, s.name);
        EncodeNode(out, s.content);
    }
}

class Reader {
public:
    explicit Reader(std::string_view bytes) : rest_(bytes) {}
    bool U32(uint32_t& v) {
        if (rest_.size() < 4) return false;
        v = 0;
        for (int i = 0; i < 4; ++i) v |= uint32_t(static_cast<uint8_t>(rest_[i])) << (8 * i);
        rest_.remove_prefix(4);
        return true;
    }
    bool Bytes(std::string_view& b) {
        uint32_t n;
        if (!U32(n) || rest_.size() < n) return false;
        b = rest_.substr(0, n);
        rest_.remove_prefix(n);
        return true;
    }
    size_t left() const { return rest_.size(); }

private:
    std::string_view rest_;
};

bool DecodeNode(Reader& r, KeySnapshot& node, int depth) {
    if (depth > kMaxDepth) return false;
    uint32_t count;
    // Every value takes at least 12 bytes and every subkey 12: a count that
    // cannot fit in what is left is refused before anything is allocated.
    if (!r.U32(count) || count > r.left() / 12) return false;
    std::set<std::string> seen;
    node.values.resize(count);
    for (auto& v : node.values) {
        std::string_view name, data;
        uint32_t type;
        if (!r.Bytes(name) || !r.U32(type) || !r.Bytes(data)) return false;
        if (!IsUtf8(name) || !seen.insert(FoldRegistryName(name)).second) return false;
        v.name = std::string(name);
        v.value.type = static_cast<RegType>(type);
        v.value.data.assign(data.begin(), data.end());
    }
    if (!r.U32(count) || count > r.left() / 12) return false;
    seen.clear();
    node.subkeys.resize(count);
    for (auto& s : node.subkeys) {
        std::string_view name;
        if (!r.Bytes(name)) return false;
        std::vector<std::string> levels;
        if (SplitKeyPath(name, levels) || levels.size() != 1) return false;
        if (!seen.insert(FoldRegistryName(name)).second) return false;
        s.name = std::string(name);
        if (!DecodeNode(r, s.content, depth + 1)) return false;
    }
    return true;
}

uint32_t Crc(std::string_view bytes) {
    boost::crc_32_type crc;
    crc.process_bytes(bytes.data(), bytes.size());
    return crc.checksum();
}

}  // namespace

std::error_code SplitKeyPath(std::string_view key, std::vector<std::string>& levels) {
    levels.clear();
    if (key.empty()) return {};
    if (!IsUtf8(key)) return Errc(std::errc::invalid_argument);
    levels = PathElements(key, "\\");
    // Every backslash stands between two levels: one leading, trailing or
    // doubled leaves an empty level, which no key has.
    if (levels.size() != static_cast<std::size_t>(std::count(key.begin(), key.end(), '\\')) + 1) {
        levels.clear();
        return Errc(std::errc::invalid_argument);
    }
    return {};
}

std::error_code CheckValueName(std::string_view name) {
    return IsUtf8(name) ? std::error_code() : Errc(std::errc::invalid_argument);
}

void SortSnapshot(KeySnapshot& snapshot) {
    std::sort(
        snapshot.values.begin(), snapshot.values.end(),
        [](const SnapshotValue& a, const SnapshotValue& b) { return FoldRegistryName(a.name) < FoldRegistryName(b.name); });
    std::sort(snapshot.subkeys.begin(), snapshot.subkeys.end(),
              [](const SnapshotSubKey& a, const SnapshotSubKey& b) {
                  return FoldRegistryName(a.name) < FoldRegistryName(b.name);
              });
    for (auto& s : snapshot.subkeys) SortSnapshot(s.content);
}

std::string EncodeSnapshot(const KeySnapshot& snapshot) {
    std::string out(kMagic, sizeof kMagic);
    PutU32(out, kFormatVersion);
    EncodeNode(out, snapshot);
    PutU32(out, Crc(out));
    return out;
}

std::error_code DecodeSnapshot(std::string_view bytes, KeySnapshot& snapshot) {
    snapshot = {};
    const auto bad = Errc(std::errc::bad_message);
    if (bytes.size() < sizeof kMagic + 4 + 8 + 4) return bad;
    if (std::memcmp(bytes.data(), kMagic, sizeof kMagic) != 0) return bad;
    std::string_view body = bytes.substr(0, bytes.size() - 4);
    Reader trailer(bytes.substr(bytes.size() - 4));
    uint32_t crc;
    trailer.U32(crc);
    if (crc != Crc(body)) return bad;
    Reader r(body.substr(sizeof kMagic));
    uint32_t version;
    if (!r.U32(version) || version != kFormatVersion) return bad;
    KeySnapshot node;
    if (!DecodeNode(r, node, 0) || r.left() != 0) return bad;
    snapshot = std::move(node);
    return {};
}

std::error_code WriteSnapshotFile(const std::string& path, const KeySnapshot& snapshot) {
    const std::string bytes = EncodeSnapshot(snapshot);
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return Errno(errno);
    std::error_code ec;
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            ec = Errno(errno);
            break;
        }
        done += static_cast<size_t>(n);
    }
    if (!ec && ::fsync(fd) != 0) ec = Errno(errno);
    if (::close(fd) != 0 && !ec) ec = Errno(errno);
    if (ec) ::unlink(path.c_str());
    return ec;
}

std::error_code ReadSnapshotFile(const std::string& path, KeySnapshot& snapshot) {
    int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return Errno(errno);
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        int e = errno;
        ::close(fd);
        return Errno(e);
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        return Errc(std::errc::bad_message);
    }
    std::string bytes;
    char buf[65536];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) continue;
            int e = errno;
            ::close(fd);
            return Errno(e);
        }
        if (n == 0) break;
        bytes.append(buf, static_cast<size_t>(n));
    }
    ::close(fd);
    return DecodeSnapshot(bytes, snapshot);
}

}  // namespace mw::platform::regdetail
