#include "platform/testing/faulty_file_system.hpp"

namespace mw::platform {

namespace {

class FaultyOutputFile : public OutputFile {
public:
    FaultyOutputFile(FaultyFileSystem& owner, std::unique_ptr<OutputFile> inner)
        : owner_(owner), inner_(std::move(inner)) {}
    std::error_code Write(const void* data, std::size_t size) override {
        if (auto ec = owner_.Tick("Write")) return ec;
        return inner_->Write(data, size);
    }
    std::error_code Close() override {
        if (closed_) return {};
        closed_ = true;
        // A failed close still releases the file, as close(2) does.
        auto injected = owner_.Tick("Close");
        auto ec = inner_->Close();
        return injected ? injected : ec;
    }

private:
    FaultyFileSystem& owner_;
    std::unique_ptr<OutputFile> inner_;
    bool closed_ = false;
};

class FaultyInputFile : public InputFile {
public:
    FaultyInputFile(FaultyFileSystem& owner, std::unique_ptr<InputFile> inner)
        : owner_(owner), inner_(std::move(inner)) {}
    std::error_code Read(void* data, std::size_t size, std::size_t& got) override {
        got = 0;
        if (auto ec = owner_.Tick("Read")) return ec;
        return inner_->Read(data, size, got);
    }

private:
    FaultyFileSystem& owner_;
    std::unique_ptr<InputFile> inner_;
};

}  // namespace

std::error_code FaultyFileSystem::Tick(const char* operation) {
    ++count_;
    bool fail = failAt_ != 0 && (count_ == failAt_ || (persistent_ && count_ > failAt_));
    if (!fail) return {};
    ++failures_;
    lastFailed_ = operation;
    return std::error_code(error_, std::system_category());
}

FileInfo FaultyFileSystem::Status(const std::string& path, std::error_code& ec) {
    if ((ec = Tick("Status"))) return FileInfo{};
    return inner_.Status(path, ec);
}

std::error_code FaultyFileSystem::SetMode(const std::string& path, uint32_t mode) {
    if (auto ec = Tick("SetMode")) return ec;
    return inner_.SetMode(path, mode);
}

std::error_code FaultyFileSystem::SetOwner(const std::string& path, uid_t uid, gid_t gid) {
    if (auto ec = Tick("SetOwner")) return ec;
    return inner_.SetOwner(path, uid, gid);
}

std::error_code FaultyFileSystem::GrantAccess(const std::string& path, unsigned perms,
                                              bool inherit) {
    if (auto ec = Tick("GrantAccess")) return ec;
    return inner_.GrantAccess(path, perms, inherit);
}

std::error_code FaultyFileSystem::CreateDirectory(const std::string& path) {
    if (auto ec = Tick("CreateDirectory")) return ec;
    return inner_.CreateDirectory(path);
}

std::error_code FaultyFileSystem::RemoveDirectory(const std::string& path) {
    if (auto ec = Tick("RemoveDirectory")) return ec;
    return inner_.RemoveDirectory(path);
}

std::error_code FaultyFileSystem::RemoveFile(const std::string& path) {
    if (auto ec = Tick("RemoveFile")) return ec;
    return inner_.RemoveFile(path);
}

std::error_code FaultyFileSystem::Rename(const std::string& from, const std::string& to) {
    if (auto ec = Tick("Rename")) return ec;
    return inner_.Rename(from, to);
}

std::error_code FaultyFileSystem::CopyFile(const std::string& from, const std::string& to) {
    if (auto ec = Tick("CopyFile")) return ec;
    return inner_.CopyFile(from, to);
}

std::error_code FaultyFileSystem::CopyMetadata(const std::string& from, const std::string& to) {
    if (auto ec = Tick("CopyMetadata")) return ec;
    return inner_.CopyMetadata(from, to);
}

std::error_code FaultyFileSystem::CreateUniqueFile(const std::string& dir,
                                                   const std::string& prefix, std::string& path) {
    path.clear();
    if (auto ec = Tick("CreateUniqueFile")) return ec;
    return inner_.CreateUniqueFile(dir, prefix, path);
}

std::error_code FaultyFileSystem::CreateUniqueDirectory(const std::string& dir,
                                                        const std::string& prefix,
                                                        std::string& path) {
    path.clear();
    if (auto ec = Tick("CreateUniqueDirectory")) return ec;
    return inner_.CreateUniqueDirectory(dir, prefix, path);
}

std::unique_ptr<OutputFile> FaultyFileSystem::OpenForWrite(const std::string& path,
                                                           std::error_code& ec) {
    if ((ec = Tick("OpenForWrite"))) return nullptr;
    auto inner = inner_.OpenForWrite(path, ec);
    if (!inner) return nullptr;
    return std::make_unique<FaultyOutputFile>(*this, std::move(inner));
}

std::unique_ptr<InputFile> FaultyFileSystem::OpenForRead(const std::string& path,
                                                         std::error_code& ec) {
    if ((ec = Tick("OpenForRead"))) return nullptr;
    auto inner = inner_.OpenForRead(path, ec);
    if (!inner) return nullptr;
    return std::make_unique<FaultyInputFile>(*this, std::move(inner));
}

}  // namespace mw::platform
