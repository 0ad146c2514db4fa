// The two cross-process objects through which installers and the installed
// product see each other: a named mutex that admits one holder at a time and
// an instance counter of running processes. Both are visible to the
// processes of every user and give back what a process held when it dies,
// however it dies.
//
// Names: "Global\\" followed by the given name for global objects; other
// names are private to the user ("Local\\<uid>\\" followed by the name).
//
// The mutex is a file in $MW_ROOT/run/mw held with flock. The folder (0755)
// and the files (0644) are root's, made by root only, so no other user can
// plant, replace or remove them; everyone may open them read-only, which is
// all flock needs. The full name becomes a file name with every character
// outside [A-Za-z0-9._{}-] written as %XX ("Global\\Arbolux7.{...}" ->
// "Global%5CArbolux7.{...}.lock"). Everything is opened without following
// links, and root checks the owner and mode of what it opened.
//
// The counter is a System V semaphore (mode 0666, so the product run by any
// user joins it) whose units are added with SEM_UNDO: the kernel takes back
// the unit of a process that dies. It needs no file at all.
//
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
    // False when the lock file could not be opened or created. A process
    // other than root that finds no lock file and may not make one has no
    // root installer to wait for (root makes the file when it first runs):
    // its mutex is valid and taken without contention.
    bool valid() const { return fd_ >= 0 || unshared_; }
    const std::string& path() const { return path_; }

private:
    int fd_ = -1;
    bool owned_ = false;
    bool unshared_ = false;
    std::string path_;
};

class InstanceCounter {
public:
    // Creates or opens the counter of "Global\\" + name (for this machine
    // root) and counts this process in.
    explicit InstanceCounter(std::string_view name);
    ~InstanceCounter();  // takes this process out of the count
    InstanceCounter(const InstanceCounter&) = delete;
    InstanceCounter& operator=(const InstanceCounter&) = delete;

    // The processes counted, this one included; -1 when the count cannot be
    // read (callers take that as "running", never as none).
    int32_t Count();
    // 1 while this process is counted in, else 0.
    int32_t held() const { return held_; }
    // The System V key of the counter (tests look at the semaphore).
    int key() const { return key_; }

private:
    int key_ = 0;
    int semId_ = -1;
    int32_t held_ = 0;
};

// The file name of an object's full name (see above); empty when too long.
std::string LockFileName(std::string_view fullName);
// $MW_ROOT/run/mw
std::string LockFolder();

}  // namespace mw::platform
