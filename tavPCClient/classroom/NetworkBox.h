// The box that tells the member the network failed the classroom: modal but
// not blocking (the window may close under it), without buttons, closing by
// itself after half an hour.
#pragma once

namespace NetworkBox {
constexpr int kShowMs = 1800000;
void show();
}  // namespace NetworkBox
