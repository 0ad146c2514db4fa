#include "platform/resources.hpp"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "platform/mapped_file.hpp"
#include "platform/os_error.hpp"
#include "platform/utf16.hpp"

namespace mw::platform {
namespace {

namespace bf = bundle_format;

uint16_t ReadU16(const std::byte* p) {
    return uint16_t(uint8_t(p[0])) | uint16_t(uint8_t(p[1])) << 8;
}
uint32_t ReadU32(const std::byte* p) {
    return uint32_t(ReadU16(p)) | uint32_t(ReadU16(p + 2)) << 16;
}
uint64_t ReadU64(const std::byte* p) {
    return uint64_t(ReadU32(p)) | uint64_t(ReadU32(p + 4)) << 32;
}

class ResourceCategoryImpl final : public std::error_category {
public:
    const char* name() const noexcept override { return "resources"; }
    std::string message(int value) const override {
        switch (static_cast<ResourceError>(value)) {
            case ResourceError::NoBundle:
                return "the file carries no resource bundle";
            case ResourceError::Damaged:
                return "the resource bundle of the file is damaged";
        }
        return "unknown resource error";
    }
};

// A read-only private mapping of a whole file; it stays valid when the file
// is replaced by rename, which is how our tools rewrite executables.
class FileMapping {
public:
    static std::shared_ptr<FileMapping> Open(const std::string& path, std::error_code& ec) {
        int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            ec = LastOsError();
            return nullptr;
        }
        struct stat st {};
        std::shared_ptr<FileMapping> result;
        if (::fstat(fd, &st) != 0) {
            ec = LastOsError();
        } else if (!S_ISREG(st.st_mode)) {
            ec = OsError(std::errc::invalid_argument);
        } else if (st.st_size == 0) {
            result = std::shared_ptr<FileMapping>(new FileMapping(nullptr, 0));
        } else {
            void* p = ::mmap(nullptr, st.st_size, PROT_READ, MAP_PRIVATE, fd, 0);
            if (p == MAP_FAILED) {
                ec = LastOsError();
            } else {
                result = std::shared_ptr<FileMapping>(new FileMapping(p, st.st_size));
            }
        }
        if (result && result->data_) {
            result->fd_ = fd;  // kept for Copy
        } else {
            ::close(fd);
        }
        return result;
    }
    ~FileMapping() {
        if (data_) ::munmap(data_, size_);
        if (fd_ >= 0) ::close(fd_);
    }
    // `bytes` lies inside the mapping.
    void Copy(std::span<const std::byte> bytes, void* to) const {
        const auto offset = static_cast<uint64_t>(bytes.data() - static_cast<const std::byte*>(data_));
        CopyFileBytes(fd_, reinterpret_cast<const char*>(bytes.data()), offset, bytes.size(), to);
    }
    FileMapping(const FileMapping&) = delete;
    FileMapping& operator=(const FileMapping&) = delete;
    std::span<const std::byte> bytes() const {
        return {static_cast<const std::byte*>(data_), size_};
    }

private:
    FileMapping(void* data, std::size_t size) : data_(data), size_(size) {}
    void* data_;
    std::size_t size_;
    int fd_ = -1;
};

class Bundle final : public ResourceBundle {
public:
    struct Entry {
        ResourceKey key;
        std::span<const std::byte> data;
    };
    Bundle(std::vector<Entry> entries, std::shared_ptr<FileMapping> keepAlive)
        : entries_(std::move(entries)), keepAlive_(std::move(keepAlive)) {}

    std::span<const std::byte> Find(uint32_t type, uint32_t name,
                                    std::optional<uint16_t> language) const override {
        ResourceKey probe{type, name, language.value_or(0)};
        auto it = std::lower_bound(entries_.begin(), entries_.end(), probe,
                                   [](const Entry& e, const ResourceKey& k) { return e.key < k; });
        if (it == entries_.end() || it->key.type != type || it->key.name != name) return {};
        if (language && it->key.language != *language) return {};
        return it->data;
    }

    std::vector<ResourceKey> List() const override {
        std::vector<ResourceKey> keys;
        keys.reserve(entries_.size());
        for (const auto& e : entries_) keys.push_back(e.key);
        return keys;
    }

    void Release(std::span<const std::byte> bytes) const override {
        if (!keepAlive_ || bytes.empty()) return;
        const std::span<const std::byte> mapped = keepAlive_->bytes();
        const auto at = reinterpret_cast<uintptr_t>(bytes.data());
        const auto base = reinterpret_cast<uintptr_t>(mapped.data());
        if (at < base || at - base > mapped.size() || bytes.size() > mapped.size() - (at - base))
            return;  // not ours: nothing to give back
        ReleaseFilePages(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    }

    void Copy(std::span<const std::byte> bytes, void* to) const override {
        if (bytes.empty()) return;
        if (keepAlive_) {
            const std::span<const std::byte> mapped = keepAlive_->bytes();
            const auto at = reinterpret_cast<uintptr_t>(bytes.data());
            const auto base = reinterpret_cast<uintptr_t>(mapped.data());
            if (at >= base && at - base <= mapped.size() &&
                bytes.size() <= mapped.size() - (at - base)) {
                keepAlive_->Copy(bytes, to);
                return;
            }
        }
        ResourceBundle::Copy(bytes, to);
    }

private:
    std::vector<Entry> entries_;  // sorted by key
    std::shared_ptr<FileMapping> keepAlive_;
};

std::unique_ptr<ResourceBundle> ParseBundleKeeping(std::span<const std::byte> bundle,
                                                   std::shared_ptr<FileMapping> keepAlive,
                                                   std::error_code& ec) {
    ec.clear();
    const auto damaged = [&ec]() -> std::unique_ptr<ResourceBundle> {
        ec = ResourceError::Damaged;
        return nullptr;
    };
    if (bundle.size() < bf::HeaderSize ||
        std::memcmp(bundle.data(), bf::IndexMagic, sizeof bf::IndexMagic) != 0) {
        return damaged();
    }
    uint64_t count = ReadU32(bundle.data() + 8);
    // count is below 2^32, so this product cannot overflow 64 bits.
    uint64_t indexEnd = bf::HeaderSize + count * bf::EntrySize;
    if (indexEnd > bundle.size()) return damaged();
    std::vector<Bundle::Entry> entries;
    entries.reserve(count);
    for (uint64_t i = 0; i < count; ++i) {
        const std::byte* e = bundle.data() + bf::HeaderSize + i * bf::EntrySize;
        ResourceKey key{ReadU32(e), ReadU32(e + 4), ReadU16(e + 8)};
        uint64_t offset = ReadU64(e + 16);
        uint64_t size = ReadU64(e + 24);
        if (offset < indexEnd || offset > bundle.size() || size > bundle.size() - offset) {
            return damaged();
        }
        if (!entries.empty() && !(entries.back().key < key)) return damaged();
        entries.push_back({key, bundle.subspan(offset, size)});
    }
    return std::make_unique<Bundle>(std::move(entries), std::move(keepAlive));
}

std::unique_ptr<ResourceBundle> OpenMapped(const std::string& path, std::error_code& ec) {
    auto file = FileMapping::Open(path, ec);
    if (!file) return nullptr;
    BundleLocation where;
    if ((ec = LocateBundle(file->bytes(), where))) return nullptr;
    return ParseBundleKeeping(where.bundle, std::move(file), ec);
}

}  // namespace

const std::error_category& ResourceCategory() {
    static const ResourceCategoryImpl category;
    return category;
}

std::error_code make_error_code(ResourceError e) {
    return {static_cast<int>(e), ResourceCategory()};
}

std::error_code LocateBundle(std::span<const std::byte> image, BundleLocation& out) {
    out = BundleLocation{{}, image.size()};
    if (image.size() < bf::TrailerSize) return ResourceError::NoBundle;
    const std::byte* trailer = image.data() + image.size() - bf::TrailerSize;
    if (std::memcmp(trailer + 16, bf::TrailerMagic, sizeof bf::TrailerMagic) != 0) {
        return ResourceError::NoBundle;
    }
    uint64_t offset = ReadU64(trailer);
    uint64_t size = ReadU64(trailer + 8);
    uint64_t trailerOffset = image.size() - bf::TrailerSize;
    if (offset > trailerOffset || size != trailerOffset - offset) return ResourceError::Damaged;
    out.bundle = image.subspan(offset, size);
    out.programSize = offset;
    return {};
}

std::unique_ptr<ResourceBundle> ParseBundle(std::span<const std::byte> bundle,
                                            std::error_code& ec) {
    return ParseBundleKeeping(bundle, nullptr, ec);
}

void ResourceBundle::Copy(std::span<const std::byte> bytes, void* to) const {
    if (!bytes.empty()) std::memcpy(to, bytes.data(), bytes.size());
}

const ResourceBundle& OwnResources() {
    static const std::unique_ptr<ResourceBundle> own = [] {
        std::error_code ec;
        std::unique_ptr<ResourceBundle> bundle = OpenMapped("/proc/self/exe", ec);
        if (!bundle) bundle = std::make_unique<Bundle>(std::vector<Bundle::Entry>{}, nullptr);
        return bundle;
    }();
    return *own;
}

std::unique_ptr<ResourceBundle> OpenResources(const std::string& path, std::error_code& ec) {
    ec.clear();
    return OpenMapped(path, ec);
}

std::optional<std::string> LoadStringResource(const ResourceBundle& bundle, uint32_t id) {
    std::span<const std::byte> block = bundle.Find(rt::String, id / 16 + 1);
    std::size_t pos = 0;
    for (uint32_t i = 0; i <= id % 16; ++i) {
        if (block.size() - pos < 2) return std::nullopt;
        std::size_t length = ReadU16(block.data() + pos);
        pos += 2;
        if (length * 2 > block.size() - pos) return std::nullopt;
        if (i == id % 16) {
            if (length == 0) return std::nullopt;
            return Utf16LeToUtf8(block.subspan(pos, length * 2));
        }
        pos += length * 2;
    }
    return std::nullopt;
}

}  // namespace mw::platform
