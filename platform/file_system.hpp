// The file-system seam of the engine and the journal. Every change they make
// to files and folders goes through FileSystem, so that tests can fail any
// single operation (FaultyFileSystem) and so that the real implementation can
// enforce, in one place, the rules a root process needs: no symbolic link that
// someone else could have planted is followed, and below the target user's
// home everything is done as that user.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <system_error>

namespace mw::platform {

enum class FileType { None, Regular, Directory, Symlink, Other };

struct FileInfo {
    FileType type = FileType::None;  // None: nothing there
    uint32_t mode = 0;               // permission bits (07777)
    uid_t uid = 0;
    gid_t gid = 0;
    uint64_t size = 0;
    dev_t device = 0;
    ino_t inode = 0;
};

class OutputFile {
public:
    virtual ~OutputFile() = default;
    virtual std::error_code Write(const void* data, std::size_t size) = 0;
    // Flushes and closes; a second call does nothing.
    virtual std::error_code Close() = 0;
};

class InputFile {
public:
    virtual ~InputFile() = default;
    // got == 0 with no error means end of file.
    virtual std::error_code Read(void* data, std::size_t size, std::size_t& got) = 0;
};

// Paths are absolute, with no "." or ".." element (EINVAL otherwise). Errors
// are errno values in std::system_category().
class FileSystem {
public:
    virtual ~FileSystem() = default;

    // Status of the path itself (a link is reported as Symlink). A missing
    // path gives type None and no error.
    virtual FileInfo Status(const std::string& path, std::error_code& ec) = 0;
    virtual std::error_code SetMode(const std::string& path, uint32_t mode) = 0;
    // One level; fails when the parent is missing or the name exists.
    virtual std::error_code CreateDirectory(const std::string& path) = 0;
    // Fails when the folder is not empty.
    virtual std::error_code RemoveDirectory(const std::string& path) = 0;
    virtual std::error_code RemoveFile(const std::string& path) = 0;
    // Replaces an existing file at `to`; EXDEV is returned as it is.
    virtual std::error_code Rename(const std::string& from, const std::string& to) = 0;
    // Copies content, mode, owner, ACL and extended attributes; `to` is
    // replaced when it exists.
    virtual std::error_code CopyFile(const std::string& from, const std::string& to) = 0;
    // Gives `to` the mode, owner, ACL and extended attributes of `from`.
    virtual std::error_code CopyMetadata(const std::string& from, const std::string& to) = 0;
    // Creates a new empty file "<dir>/<prefix>XXXXXX" exclusively (mode 0600)
    // and returns its path.
    virtual std::error_code CreateUniqueFile(const std::string& dir, const std::string& prefix,
                                             std::string& path) = 0;
    // Creates a new folder "<dir>/<prefix>XXXXXX" exclusively (mode 0700,
    // like mkdtemp) and returns its path.
    virtual std::error_code CreateUniqueDirectory(const std::string& dir, const std::string& prefix,
                                                  std::string& path) = 0;
    // Gives the path itself (a link is never followed) this owner and group.
    virtual std::error_code SetOwner(const std::string& path, uid_t uid, gid_t gid) = 0;
    // Gives every user of the machine exactly `perms` (4 read, 2 write, 1
    // execute) on the regular file or folder at `path`, and with `inherit` on
    // a folder to what is created in it later (GrantOthersOnDescriptor). The
    // object is opened without following a link and changed only when it is
    // a plain file or folder of the user the call runs as (root, or the
    // target user below that user's folders) with no second name
    // (CheckGrantTarget). ENOTSUP on a file system without ACLs.
    virtual std::error_code GrantAccess(const std::string& path, unsigned perms, bool inherit) = 0;
    // Creates or truncates a regular file for writing.
    virtual std::unique_ptr<OutputFile> OpenForWrite(const std::string& path,
                                                     std::error_code& ec) = 0;
    virtual std::unique_ptr<InputFile> OpenForRead(const std::string& path,
                                                   std::error_code& ec) = 0;
};

// The process-wide file system; the real one unless a test installed another.
FileSystem& Files();
// Installs `fs` (not owned) as Files(); nullptr restores the real one.
void SetFilesForTesting(FileSystem* fs);
std::unique_ptr<FileSystem> MakeRealFileSystem();

// Whether `path` names something once links are followed (a dangling link
// names nothing), for checks that only read. Errors count as nothing there.
bool ExistsFollowingLinks(const std::string& path);

// A new private work folder (mode 0700, exclusive creation) in TempFolder(),
// named "<prefix>XXXXXX". Running as root, EACCES when another user could
// change the temporary folder or a folder above it (a sticky folder such as
// /tmp is fine) or when it lies in the target user's folders.
std::error_code MakePrivateTempFolder(const std::string& prefix, std::string& path,
                                      FileSystem& fs = Files());

}  // namespace mw::platform
