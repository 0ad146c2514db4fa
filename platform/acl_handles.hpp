// Owners of the objects libacl and libcap hand out (an ACL, a process's
// capability state): each is freed with its library's own call however the
// scope that holds it is left, so an early return cannot leak one.
#pragma once

#include <sys/acl.h>
#include <sys/capability.h>

#include <utility>

namespace mw::platform {

template <typename T, int (*Free)(void*)>
class LibraryObject {
public:
    explicit LibraryObject(T object = nullptr) : object_(object) {}
    ~LibraryObject() { Reset(nullptr); }
    LibraryObject(LibraryObject&& other) noexcept
        : object_(std::exchange(other.object_, nullptr)) {}
    LibraryObject& operator=(LibraryObject&& other) noexcept {
        if (this != &other) Reset(std::exchange(other.object_, nullptr));
        return *this;
    }
    LibraryObject(const LibraryObject&) = delete;
    LibraryObject& operator=(const LibraryObject&) = delete;

    T get() const { return object_; }
    // For the calls that change the object in place (acl_create_entry).
    T* out() { return &object_; }
    // Hands the object over to another owner.
    T Release() { return std::exchange(object_, nullptr); }
    void Reset(T object) {
        if (object_) Free(object_);
        object_ = object;
    }
    explicit operator bool() const { return object_ != nullptr; }

private:
    T object_;
};

using AclHandle = LibraryObject<acl_t, acl_free>;
using CapsHandle = LibraryObject<cap_t, cap_free>;
// The texts acl_to_any_text and cap_to_text give.
using AclText = LibraryObject<char*, acl_free>;
using CapsText = LibraryObject<char*, cap_free>;

}  // namespace mw::platform
