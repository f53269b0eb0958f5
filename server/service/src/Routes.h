// The service's endpoints, grouped by domain; each adds its paths to the router.
#pragma once

#include "Call.h"

namespace tavsvc {

void addAccountRoutes(
    Router& router);  // aas/...: login, keys for web pages, user info, scores, settings, versions
void addRoomRoutes(
    Router& router);  // rms/service/room/...: lists, entry, presence, members, settings
void addModerationRoutes(Router& router);  // blacklist (mute, removal) and assistants
void addGiftRoutes(Router& router);        // gifts, medals, consumption, recharge, orders
void addChatRoutes(Router& router);        // chat history, the internal chat handoff, usage reports
void addSharingRoutes(Router& router);     // shared documents of a room
void addCoursewareRoutes(Router& router);  // courseware and its orders
void addNoticeRoutes(
    Router& router);  // announcements, bulletins, notifications, bookings, recommendations
void addFileRoutes(Router& router);  // uds/upload... files, uploads, installer downloads
void addWebPages(Router& router);    // tavolin/... pages

}  // namespace tavsvc
