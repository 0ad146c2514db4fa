// Installs a test double through one of the ...ForTesting hooks for the
// lifetime of a scope and takes it out again however the scope is left, so
// that a failed assertion (which returns early) cannot leave a fake in place
// for the tests after it.
#pragma once

#include <type_traits>

namespace mw::platform {

template <typename T>
class ScopedForTesting {
public:
    ScopedForTesting(void (*set)(T*), std::type_identity_t<T>* value) : set_(set) { set_(value); }
    ~ScopedForTesting() { set_(nullptr); }
    ScopedForTesting(const ScopedForTesting&) = delete;
    ScopedForTesting& operator=(const ScopedForTesting&) = delete;

private:
    void (*set_)(T*);
};

}  // namespace mw::platform
