// A registry store in memory for unit tests, with the same names, types and
// errors as the real store (one table of cases runs against both).
#pragma once

#include <memory>

#include "platform/registry.hpp"

namespace mw::platform {

std::unique_ptr<Registry> MakeFakeRegistry();

}  // namespace mw::platform
