// Loading a shared library that travels with the payload (the DirectX setup
// library of the work folder). An elevated installer loads code only from a
// file that nobody but itself could have replaced: the file and its folder
// belong to this process's user and are writable by nobody else, and no
// folder above could have been changed by another user. The file is opened
// once, checked on that descriptor and loaded through it, so it cannot be
// swapped between the check and the load.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <system_error>

namespace mw::platform {

class SharedLibrary {
public:
    ~SharedLibrary();
    SharedLibrary(const SharedLibrary&) = delete;
    SharedLibrary& operator=(const SharedLibrary&) = delete;

    // Loads `path` when the rule above allows it. Errors: ENOENT (nothing
    // there), EPERM (a file that another user could have replaced, or not a
    // regular file), ELOOP (a link), ENOEXEC (the loader refused it).
    static std::unique_ptr<SharedLibrary> Load(const std::string& path, std::error_code& ec);

    // The address of an exported symbol; nullptr when there is none.
    void* Symbol(const char* name) const;

private:
    explicit SharedLibrary(void* handle) : handle_(handle) {}
    void* handle_;
};

// The file of `folder` whose name equals `name` without regard to ASCII case
// (an exact match first); empty when there is none.
std::string FindFileIgnoringCase(const std::string& folder, std::string_view name);

}  // namespace mw::platform
