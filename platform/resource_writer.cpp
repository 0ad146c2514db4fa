#include "platform/resource_writer.hpp"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <utility>

#include "platform/os_error.hpp"

namespace mw::platform {
namespace {

namespace bf = bundle_format;

void PutU16(std::byte* p, uint16_t v) {
    p[0] = std::byte(v & 0xFF);
    p[1] = std::byte(v >> 8);
}
void PutU32(std::byte* p, uint32_t v) {
    PutU16(p, uint16_t(v));
    PutU16(p + 2, uint16_t(v >> 16));
}
void PutU64(std::byte* p, uint64_t v) {
    PutU32(p, uint32_t(v));
    PutU32(p + 4, uint32_t(v >> 32));
}

std::error_code Errno() {
    return LastOsError();
}

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }

private:
    int fd_;
};

std::error_code ReadAll(int fd, std::vector<std::byte>& out) {
    out.clear();
    std::byte buffer[1 << 16];
    for (;;) {
        ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR) continue;
            return Errno();
        }
        if (got == 0) return {};
        out.insert(out.end(), buffer, buffer + got);
    }
}

std::error_code WriteAll(int fd, std::span<const std::byte> data) {
    while (!data.empty()) {
        ssize_t put = ::write(fd, data.data(), data.size());
        if (put < 0) {
            if (errno == EINTR) continue;
            return Errno();
        }
        data = data.subspan(put);
    }
    return {};
}

std::error_code ReadWholeFile(const std::string& path, std::vector<std::byte>& out, bool& exists,
                              struct stat& st) {
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    exists = fd.get() >= 0;
    if (!exists) return errno == ENOENT ? std::error_code{} : Errno();
    if (::fstat(fd.get(), &st) != 0) return Errno();
    if (!S_ISREG(st.st_mode)) return OsError(std::errc::invalid_argument);
    return ReadAll(fd.get(), out);
}

}  // namespace

std::error_code ReadResources(const std::string& path, ResourceMap& out) {
    out.clear();
    std::error_code ec;
    auto bundle = OpenResources(path, ec);
    if (ec == ResourceError::NoBundle) return {};
    if (!bundle) return ec;
    for (const ResourceKey& key : bundle->List()) {
        auto data = bundle->Find(key.type, key.name, key.language);
        out.emplace(key, std::vector<std::byte>(data.begin(), data.end()));
    }
    return {};
}

std::vector<std::byte> SerializeBundle(const ResourceMap& resources, uint64_t bundleOffset) {
    const auto align = [](uint64_t n) {
        return (n + bf::DataAlignment - 1) / bf::DataAlignment * bf::DataAlignment;
    };
    uint64_t pos = align(bf::HeaderSize + resources.size() * bf::EntrySize);
    std::vector<uint64_t> offsets;
    offsets.reserve(resources.size());
    for (const auto& [key, data] : resources) {
        offsets.push_back(pos);
        pos = align(pos + data.size());
    }
    std::vector<std::byte> out(pos + bf::TrailerSize);
    std::memcpy(out.data(), bf::IndexMagic, sizeof bf::IndexMagic);
    PutU32(out.data() + 8, uint32_t(resources.size()));
    std::size_t i = 0;
    for (const auto& [key, data] : resources) {
        std::byte* e = out.data() + bf::HeaderSize + i * bf::EntrySize;
        PutU32(e, key.type);
        PutU32(e + 4, key.name);
        PutU16(e + 8, key.language);
        PutU64(e + 16, offsets[i]);
        PutU64(e + 24, data.size());
        std::copy(data.begin(), data.end(), out.begin() + offsets[i]);
        ++i;
    }
    std::byte* trailer = out.data() + pos;
    PutU64(trailer, bundleOffset);
    PutU64(trailer + 8, pos);
    std::memcpy(trailer + 16, bf::TrailerMagic, sizeof bf::TrailerMagic);
    return out;
}

std::error_code WriteResources(const std::string& givenPath, const ResourceMap& resources) {
    if (resources.size() > UINT32_MAX) return OsError(std::errc::value_too_large);
    std::string path = givenPath;
    std::error_code fsError;
    if (std::filesystem::is_symlink(givenPath, fsError)) {
        path = std::filesystem::canonical(givenPath, fsError).string();
        if (fsError) return fsError;
    }

    std::vector<std::byte> image;
    bool exists = false;
    struct stat st {};
    if (auto ec = ReadWholeFile(path, image, exists, st)) return ec;
    BundleLocation where;
    std::error_code located = LocateBundle(image, where);
    if (located == ResourceError::Damaged) return located;
    image.resize(where.programSize);

    std::vector<std::byte> bundle;
    if (!resources.empty()) bundle = SerializeBundle(resources, image.size());

    std::filesystem::path target(path);
    std::string dir = target.parent_path().empty() ? "." : target.parent_path().string();
    std::string temp = dir + "/." + target.filename().string() + ".XXXXXX";
    Fd fd(::mkostemp(temp.data(), O_CLOEXEC));
    if (fd.get() < 0) return Errno();
    auto fail = [&temp](std::error_code ec) {
        ::unlink(temp.c_str());
        return ec;
    };
    mode_t mode = exists ? (st.st_mode & 07777) : (0666 & ~[] {
        mode_t mask = ::umask(0);
        ::umask(mask);
        return mask;
    }());
    if (auto ec = WriteAll(fd.get(), image)) return fail(ec);
    if (auto ec = WriteAll(fd.get(), bundle)) return fail(ec);
    if (exists && ::geteuid() == 0 && ::fchown(fd.get(), st.st_uid, st.st_gid) != 0) {
        return fail(Errno());
    }
    if (::fchmod(fd.get(), mode) != 0) return fail(Errno());
    if (::fsync(fd.get()) != 0) return fail(Errno());
    if (::close(fd.release()) != 0) return fail(Errno());
    if (::rename(temp.c_str(), path.c_str()) != 0) return fail(Errno());
    return {};
}

}  // namespace mw::platform
