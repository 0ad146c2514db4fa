// What start-up asks of the machine before anything else: the processor's
// SSE2 and the version of the interface toolkit (the counterpart of the
// common-controls library version).
#pragma once

#include <cstdint>

namespace mw::platform {

// True when the processor has SSE2. On processors that are not x86 the
// question does not arise and the answer is true.
bool ProcessorSupportsSse2();

// The version of the interface toolkit the program's user-interface layer
// installed (platform/ui), as (major << 16) | minor (FLTK 1.3.8 gives
// 0x10003); 0 in a program without one.
uint32_t ToolkitVersion();
void SetToolkitVersion(uint32_t version);

}  // namespace mw::platform
