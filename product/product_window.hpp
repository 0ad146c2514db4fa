// The product's small window: its name, version and the libraries and
// textures it found, in the product's language, with a Close button.
#pragma once

#include <cstdint>

namespace mw::product {

struct Inventory;

// Shows the window until it is closed. False when no display can be
// opened (nothing is shown then).
bool ShowProductWindow(const Inventory& inventory, int32_t language);

}  // namespace mw::product
