// Room message catalogue: the typeId of every message members of a classroom
// exchange, and the envelope keys they share.
//
// Room types travel with "typeId" as a string of decimal digits, annotation
// types (100-111) with "typeId" as a JSON number; receivers on the peer path
// tell the two families apart by that JSON type, so build messages with
// roommsg::newMessage() rather than by hand. The chat types and the envelope keys are the
// ones the servers read too (roomwire).
#pragma once

#include "roomwire/room_message.h"

// Room types ("typeId" as a decimal string).
inline constexpr int MSG_CHAT_TEXT = roomwire::kChatText;
inline constexpr int MSG_LOGIN_ANNOUNCE = 1;  // one-login channel only
inline constexpr int MSG_CHAT_PICTURE = roomwire::kChatPicture;
inline constexpr int MSG_CHAT_VOICE = roomwire::kChatVoice;
inline constexpr int MSG_HAND = 30;
inline constexpr int MSG_GIFT = 50;
inline constexpr int MSG_MEDAL = 51;
inline constexpr int MSG_ASSISTANT = 53;
inline constexpr int MSG_KICK_OUT = 60;
inline constexpr int MSG_MUTE = 61;
inline constexpr int MSG_ANNOUNCEMENT_TITLE = 62;
inline constexpr int MSG_BLANK_WHITEBOARD = 63;
inline constexpr int MSG_TOOL_REVOKED = 64;
inline constexpr int MSG_COURSEWARE_STATUS = 65;
inline constexpr int MSG_DOC_DELETED = 69;
inline constexpr int MSG_DOC_ADDED = 70;
inline constexpr int MSG_SHARE_STATE_QUERY = 71;
inline constexpr int MSG_SHARE_STATE = 72;
inline constexpr int MSG_PIC_ROTATE = 73;
inline constexpr int MSG_PAGE_TURN = 74;
inline constexpr int MSG_PIC_DRAG = 75;
inline constexpr int MSG_PIC_FIT = 76;
inline constexpr int MSG_PIC_RESIZE = 77;
inline constexpr int MSG_PHONE_ASSISTANT = 78;
inline constexpr int MSG_ROOM_TYPE = 80;

// Annotation types ("typeId" as a JSON number).
inline constexpr int ANNO_POINT = 100;
inline constexpr int ANNO_START = 101;
inline constexpr int ANNO_STOP = 102;
inline constexpr int ANNO_TOOL = 103;
inline constexpr int ANNO_COLOR = 104;
inline constexpr int ANNO_WIDTH = 105;
inline constexpr int ANNO_APPLY = 106;
inline constexpr int ANNO_APPLY_REPLY = 107;
inline constexpr int ANNO_SYNC_REQUEST = 108;
inline constexpr int ANNO_SHAPE = 109;
inline constexpr int ANNO_PEN = 111;

// Envelope keys. Only "typeId" is always present.
inline constexpr const auto& KEY_TYPE_ID = roomwire::kTypeId;
inline constexpr const auto& KEY_SEND_USER_ID = roomwire::kSendUserId;
inline constexpr const auto& KEY_CONTENT = roomwire::kContent;
inline constexpr const auto& KEY_ACCEPT_USER_ID = roomwire::kAcceptUserId;
inline constexpr const auto& KEY_SEND_USERNAME = roomwire::kSendUsername;
inline constexpr const auto& KEY_SEND_USER_IMG = roomwire::kSendUserImg;
inline constexpr const auto& KEY_SEND_USER_ROLE = roomwire::kSendUserRole;
inline constexpr const auto& KEY_MSG_SEND_TIME = roomwire::kMsgSendTime;
inline constexpr const auto& KEY_ROOM_ID = roomwire::kRoomId;
inline constexpr const auto& KEY_INDEX = roomwire::kIndex;

// Target of a message meant for every member of the room.
inline constexpr char TARGET_ALL[] = "*";
