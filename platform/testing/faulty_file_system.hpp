// A FileSystem that passes every call on to another one and can make a
// chosen call fail, so that tests can fail each operation of a procedure in
// turn and check what it leaves behind. Every call counts as one operation,
// including each Write, Read and the first Close of the files it opened.
#pragma once

#include <cerrno>
#include <cstdint>
#include <string>

#include "platform/file_system.hpp"

namespace mw::platform {

class FaultyFileSystem : public FileSystem {
public:
    explicit FaultyFileSystem(FileSystem& inner) : inner_(inner) {}

    // Operation number `n` (1 = the first after construction or
    // ResetCount) fails with `error` without reaching the inner file system;
    // with `persistent`, every operation from `n` on fails. 0 fails nothing.
    void FailAt(uint64_t n, int error = ENOSPC, bool persistent = false) {
        failAt_ = n;
        error_ = error;
        persistent_ = persistent;
    }
    void ClearFault() { failAt_ = 0; }
    void ResetCount() {
        count_ = 0;
        failures_ = 0;
    }
    // Operations counted so far.
    uint64_t Count() const { return count_; }
    // Operations made to fail so far.
    uint64_t Failures() const { return failures_; }
    // Name of the last operation made to fail ("Write", "Rename", ...).
    const std::string& LastFailed() const { return lastFailed_; }

    FileInfo Status(const std::string& path, std::error_code& ec) override;
    std::error_code SetMode(const std::string& path, uint32_t mode) override;
    std::error_code SetOwner(const std::string& path, uid_t uid, gid_t gid) override;
    std::error_code CreateDirectory(const std::string& path) override;
    std::error_code RemoveDirectory(const std::string& path) override;
    std::error_code RemoveFile(const std::string& path) override;
    std::error_code Rename(const std::string& from, const std::string& to) override;
    std::error_code CopyFile(const std::string& from, const std::string& to) override;
    std::error_code CopyMetadata(const std::string& from, const std::string& to) override;
    std::error_code CreateUniqueFile(const std::string& dir, const std::string& prefix,
                                     std::string& path) override;
    std::error_code CreateUniqueDirectory(const std::string& dir, const std::string& prefix,
                                          std::string& path) override;
    std::error_code GrantAccess(const std::string& path, unsigned perms, bool inherit) override;
    std::unique_ptr<OutputFile> OpenForWrite(const std::string& path, std::error_code& ec) override;
    std::unique_ptr<InputFile> OpenForRead(const std::string& path, std::error_code& ec) override;

    // Counts one operation; gives the injected error when it is the one to
    // fail. Used by the file wrappers too.
    std::error_code Tick(const char* operation);

private:
    FileSystem& inner_;
    uint64_t count_ = 0;
    uint64_t failures_ = 0;
    uint64_t failAt_ = 0;
    int error_ = ENOSPC;
    bool persistent_ = false;
    std::string lastFailed_;
};

}  // namespace mw::platform
