// The installer's preconditions and its two cross-process objects: the
// version of the interface library, administrator rights, and whether the
// product (or another installer) of the same ApplicationId is running. The
// installed product names its objects the same way, so each side sees the
// other.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/locks.hpp"

namespace mw {

using platform::InstanceCounter;
using platform::NamedMutex;

// (major << 16) | minor of the interface library; 0 when unknown. On this
// platform that library is the toolkit (FLTK), so start-up compares with
// kMinimumCommonControlsVersion, not with the 6.0 of the original library.
uint32_t CommonControlsVersion();
inline constexpr uint32_t kMinimumCommonControlsVersion = (1u << 16) | 3u;  // 1.3

// Never fails: every error ends in false.
bool IsAdministrator();

// Names without the "Global\\" prefix, which the objects add themselves.
// The single-installer mutex: ApplicationId + ".{5ead623c-...}".
std::string InstanceMutexName(std::string_view applicationId);
// The running-processes counter: ApplicationId + ".{a3526b56-...}".
std::string InstanceCounterName(std::string_view applicationId);

// The product counts as running when more than this process is counted, or
// when the count cannot be read.
bool ProductIsRunning(InstanceCounter& counter);

}  // namespace mw
