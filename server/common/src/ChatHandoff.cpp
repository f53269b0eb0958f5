#include "tavsrv/ChatHandoff.h"

#include <sodium.h>

namespace tavsrv {

namespace {
constexpr int kVariant = sodium_base64_VARIANT_URLSAFE_NO_PADDING;
}

std::string encodeChatText(std::string_view text) {
  std::string out(sodium_base64_ENCODED_LEN(text.size(), kVariant), '\0');
  sodium_bin2base64(out.data(), out.size(), reinterpret_cast<const unsigned char*>(text.data()),
                    text.size(), kVariant);
  out.resize(out.size() - 1);  // the terminating NUL
  return out;
}

std::optional<std::string> decodeChatText(std::string_view encoded) {
  if (encoded.size() > kMaxChatEncoded)
    return std::nullopt;
  std::string out(encoded.size() * 3 / 4 + 3, '\0');
  size_t length = 0;
  const char* end = nullptr;
  if (sodium_base642bin(reinterpret_cast<unsigned char*>(out.data()), out.size(), encoded.data(),
                        encoded.size(), nullptr, &length, &end, kVariant) != 0 ||
      end != encoded.data() + encoded.size() || length > kMaxChatBytes)
    return std::nullopt;
  out.resize(length);
  return out;
}

}  // namespace tavsrv
