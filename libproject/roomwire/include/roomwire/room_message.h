// What the client and the servers both read in a room message: the chat types the message
// server hands to the service for the history, and the envelope keys. Room messages are JSON
// objects; a room type's "typeId" is a string of decimal digits.
#pragma once

namespace roomwire {

// Chat, stored for the room's history.
inline constexpr int kChatText = 0;
inline constexpr int kChatPicture = 10;
inline constexpr int kChatVoice = 20;

constexpr bool is_chat_type(long long type_id) {
  return type_id == kChatText || type_id == kChatPicture || type_id == kChatVoice;
}

// Envelope keys. Only "typeId" is always present.
inline constexpr char kTypeId[] = "typeId";
inline constexpr char kSendUserId[] = "sendUserId";
inline constexpr char kContent[] = "content";
inline constexpr char kAcceptUserId[] = "acceptUserId";
inline constexpr char kSendUsername[] = "sendUsername";
inline constexpr char kSendUserImg[] = "sendUserImg";
inline constexpr char kSendUserRole[] = "sendUserRole";
inline constexpr char kMsgSendTime[] = "msgSendTime";
inline constexpr char kRoomId[] = "roomId";
inline constexpr char kIndex[] = "index";

}  // namespace roomwire
