// The quick operations of a video tile's hover bar, as the tile reports them.
#pragma once

namespace PlayWndOperation {
enum Value { CloseMedia = 1, Audio = 2, Gift = 3 };
}
