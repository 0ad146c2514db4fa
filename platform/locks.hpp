// The two cross-process objects through which installers and the installed
// product see each other: a named mutex that admits one holder at a time and
// an instance counter of running processes. Both live as files under
// $MW_ROOT/run/lock, are visible to the processes of every user, and give back
// what a process held when it dies, however it dies (the kernel drops its
// flock locks).
//
// Names: "Global\\" followed by the given name for global objects; other
// names are private to the user ("Local\\<uid>\\" followed by the name). The
// full name becomes a file name with every character outside [A-Za-z0-9._{}-]
// written as %XX ("Global\\Arbolux7.{...}" -> "Global%5CArbolux7.{...}.lock").
//
// Files: run/lock is created 1777 (sticky, everyone may add files) when it
// does not exist. Lock files and counter folders are created 0666 / 1777
// whatever the umask, so every user can open them; an existing file is opened
// without following links, must be a regular file, and is never re-moded.
// All descriptors are close-on-exec: started programs inherit nothing.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace mw::platform {

class NamedMutex {
public:
    // Creates or opens the mutex. With initialOwner the constructor waits
    // until it holds it.
    NamedMutex(std::string_view name, bool initialOwner, bool global);
    ~NamedMutex();  // releases it when owned
    NamedMutex(const NamedMutex&) = delete;
    NamedMutex& operator=(const NamedMutex&) = delete;

    // Takes the mutex without waiting; true when this object holds it (also
    // when it held it already). False without a handle.
    bool TryAcquire();
    void Release();
    bool owned() const { return owned_; }
    // False when the lock file could not be opened or created.
    bool valid() const { return fd_ >= 0; }
    const std::string& path() const { return path_; }

private:
    int fd_ = -1;
    bool owned_ = false;
    std::string path_;
};

class InstanceCounter {
public:
    // Creates or opens the counter of "Global\\" + name and counts this
    // process in: a slot file, locked for as long as the process holds it.
    explicit InstanceCounter(std::string_view name);
    ~InstanceCounter();  // takes this process out of the count
    InstanceCounter(const InstanceCounter&) = delete;
    InstanceCounter& operator=(const InstanceCounter&) = delete;

    // The processes counted, this one included; 0 when counting fails.
    int32_t Count();
    // 1 while this process is counted in, else 0.
    int32_t held() const { return slotFd_ >= 0 ? 1 : 0; }
    const std::string& folder() const { return folder_; }

private:
    int dirFd_ = -1;
    int slotFd_ = -1;
    std::string slotName_;
    std::string folder_;
};

// The file name of an object's full name (see above); empty when too long.
std::string LockFileName(std::string_view fullName);
// $MW_ROOT/run/lock
std::string LockFolder();

}  // namespace mw::platform
