// The service's paths and the form bodies they take. Fill a body with
// FormBody(endpoint.body).arg(...) and send it to HttpRequest::serviceUrl(endpoint.path).
#pragma once

struct ServiceEndpoint {
  const char* path;
  const char* body;  // form template, "" when the call takes no body
};

namespace ServiceApi {
inline constexpr ServiceEndpoint kLogin{"aas/service/user/login", "userName=%1&userPwd=%2"};
// A fresh one-login credential for the ticket's user (this system's own call).
inline constexpr ServiceEndpoint kChatCredential{"aas/service/user/chatCredential", "globalId=%1"};
inline constexpr ServiceEndpoint kPutRedis{"aas/service/user/putRedis", "globalId=%1"};
inline constexpr ServiceEndpoint kFindUserInfoById{"aas/service/user/findUserInfoById", "id=%1"};
inline constexpr ServiceEndpoint kSaveScores{"aas/service/user/saveScores", "param=%1"};
// The room owner's view of its ratings: count, mean, the latest comments.
inline constexpr ServiceEndpoint kFindEvaluationSummary{"rms/service/room/findEvaluationSummary",
                                                        "roomId=%1"};
inline constexpr ServiceEndpoint kQuerySettings{"aas/service/system/querySettings", "type=3"};
inline constexpr ServiceEndpoint kGetSoftwareVersionsTop{
    "svs/service/software/getSoftwareVersionsTop", "type=pc"};
inline constexpr ServiceEndpoint kFindRoomByGlobalId{"rms/service/room/findRoomByGlobalId",
                                                     "globalId=%1"};
inline constexpr ServiceEndpoint kFindMyJoinRoom{"rms/service/room/findMyJoinRoom", "globalId=%1"};
inline constexpr ServiceEndpoint kUserJoinRoom{"rms/service/room/userJoinRoom",
                                               "roomId=%1&globalId=%2"};
// The same with the code the user typed for a private room ("" otherwise),
// which the service judges: a missing or wrong one is answered kAuthCodeRefused.
inline constexpr ServiceEndpoint kUserJoinRoomWithCode{"rms/service/room/userJoinRoom",
                                                       "roomId=%1&globalId=%2&authCode=%3"};
inline constexpr int kAuthCodeRefused = 423;
inline constexpr ServiceEndpoint kOpenRoom{"rms/service/room/openRoom", "roomId=%1&globalId=%2"};
inline constexpr ServiceEndpoint kHeartbeatPresence{"rms/service/room/heartbeat",
                                                    "globalId=%1&roomId=%2&type=2"};
inline constexpr ServiceEndpoint kHeartbeatTeaching{"rms/service/room/heartbeat",
                                                    "globalId=%1&roomId=%2&type=1"};
inline constexpr ServiceEndpoint kFindRoomOnlineUser{"rms/service/room/findRoomOnlineUser",
                                                     "roomId=%1"};
inline constexpr ServiceEndpoint kFindRoomUserTypeById{"rms/service/room/findRoomUserTypeById",
                                                       "roomId=%1&globalId=%2"};
inline constexpr ServiceEndpoint kSelectJoinRoomByRoomId{"rms/service/room/selectJoinRoomByRoomId",
                                                         "roomId=%1&flag=true&page=0"};
inline constexpr ServiceEndpoint kUpdateRoomPublic{"rms/service/room/updateRoom",
                                                   "roomId=%1&openStyle=1"};
inline constexpr ServiceEndpoint kUpdateRoomPrivate{"rms/service/room/updateRoom",
                                                    "roomId=%1&openStyle=2&authCode=%2"};
inline constexpr ServiceEndpoint kAddRoomBlack{"rms/service/room/addRoomBlack",
                                               "globalId=%1&roomId=%2&type=%3&optionUser=%4"};
inline constexpr ServiceEndpoint kRemoveRoomBlack{"rms/service/room/removeRoomBlack",
                                                  "globalId=%1&roomId=%2&type=%3&optionUser=%4"};
inline constexpr ServiceEndpoint kFindRoomAnnouncementByRoomIdTop{
    "rms/service/room/findRoomAnnouncementByRoomIdTop", "roomId=%1"};
inline constexpr ServiceEndpoint kFindRoomAnnouncementByRoomId{
    "rms/service/room/findRoomAnnouncementByRoomId", "roomId=%1"};
inline constexpr ServiceEndpoint kInsertAnnouncement{"rms/service/room/insertAnnouncement",
                                                     "roomId=%1&announcement=%2&title=%3"};
inline constexpr ServiceEndpoint kDeleteAnnouncement{"rms/service/room/deleteAnnouncement",
                                                     "id=%1"};
inline constexpr ServiceEndpoint kSelectAppointCourseInfoPageById{
    "rms/service/appoint/selectAppointCourseInfoPageById", "roomId=%1&rows=10&page=%2"};
inline constexpr ServiceEndpoint kFindManageById{"rms/service/manage/findManageById", "roomId=%1"};
inline constexpr ServiceEndpoint kAddManage{"rms/service/manage/addManage",
                                            "roomId=%1&globalId=%2&createGlobalId=%3"};
inline constexpr ServiceEndpoint kRemoveManagePC{"rms/service/manage/removeManagePC",
                                                 "roomId=%1&globalId=%2"};
inline constexpr ServiceEndpoint kGiftFindAll{"rms/service/gift/findAll", ""};
inline constexpr ServiceEndpoint kMedalFindAll{"rms/service/medal/findAll", ""};
inline constexpr ServiceEndpoint kFindCounterByRoomId{"rms/service/userMedal/findCounterByRoomId",
                                                      "roomId=%1"};
inline constexpr ServiceEndpoint kAddUserMedal{"rms/service/userMedal/addUserMedal",
                                               "globalId=%1&medalId=%2&roomId=%3"};
inline constexpr ServiceEndpoint kAddRoomAssociated{"rms/service/roomAssociated/addRoomAssociated",
                                                    "globalId=%1&roomId=%2"};
inline constexpr ServiceEndpoint kDeleteRoomAssociated{
    "rms/service/roomAssociated/deleteRoomAssociated", "globalId=%1&roomId=%2"};
inline constexpr ServiceEndpoint kSelectRoomAssociatedByIds{
    "rms/service/roomAssociated/selectRoomAssociatedByIds", "roomId=%1&globalId=%2"};
inline constexpr ServiceEndpoint kGetSharingInfo{"rms/service/roomSharing/GetSharingInfo",
                                                 "roomId=%1"};
inline constexpr ServiceEndpoint kAddSharingInfo{"rms/service/roomSharing/AddSharingInfo",
                                                 "roomId=%1&sharingName=%2&fileName=%3&page=%4"};
inline constexpr ServiceEndpoint kDelSharingInfo{"rms/service/roomSharing/DelSharingInfo", "id=%1"};
inline constexpr ServiceEndpoint kMoveSharingTop{"rms/service/roomSharing/MoveSharingTop",
                                                 "id=%1&roomId=%2"};
inline constexpr ServiceEndpoint kUpdateRoomSharingInfo{
    "rms/service/roomSharing/updateRoomSharingInfo", "id=%1&sharingName=%2&page=%3"};
inline constexpr ServiceEndpoint kFindCoursewareByRoomId{
    "rms/service/courseware/findCoursewareByRoomId", "roomId=%1&rows=%2&page=%3&globalId=%4"};
inline constexpr ServiceEndpoint kFindCoursewareForPlayer{
    "rms/service/courseware/findCoursewareByRoomId", "roomId=%1&rows=100000&page=1"};
inline constexpr ServiceEndpoint kCoursewareFindById{"rms/service/courseware/findById",
                                                     "id=%1&globalId=%2"};
inline constexpr ServiceEndpoint kCoursewareFindByName{"rms/service/courseware/findbyName",
                                                       "roomId=%1&coursewareName=%2"};
inline constexpr ServiceEndpoint kUpdateRoomCourseware{
    "rms/service/courseware/updateRoomCourseware",
    "id=%1&coursewareName=%2&price=%3&description=%4"};
inline constexpr ServiceEndpoint kDeleteCourseware{"rms/service/courseware/deleteCourseware",
                                                   "id=%1"};
inline constexpr ServiceEndpoint kAddOrderInfo{"mbs/service/coursewareOrder/addOrderInfo",
                                               "coursewareId=%1&globalId=%2&payWay=1"};
inline constexpr ServiceEndpoint kAddConsume{
    "mbs/service/consume/addConsume",
    "consumeGlobalId=%1&ticketId=%2&giftId=%3&count=%4&money=%5&globalId=%6"};
inline constexpr ServiceEndpoint kGetRechargeInfo{"mbs/service/recharge/getRechargeInfo", "id=%1"};
inline constexpr ServiceEndpoint kOrderFindById{"mbs/service/order/findbyId", "orderId=%1"};
inline constexpr ServiceEndpoint kGetChatRecord{"cs/service/chatRecord/getChatRecord",
                                                "chatRoomId=%1&page=%2&rows=%3"};
inline constexpr ServiceEndpoint kGetBulletinInfoPage{
    "cds/service/bulletinInfo/getBulletinInfoPage", ""};
inline constexpr ServiceEndpoint kFindNotificationInfoPage{
    "cds/service/notificationInfo/findNotificationInfoPage", "globalId=%1&rows=%2&page=%3"};
inline constexpr ServiceEndpoint kRecommend{"cds/service/recommend/recommend",
                                            "roomId=%1&userId=%2"};
inline constexpr ServiceEndpoint kAddHistory{"report/service/roomReport/addHistory",
                                             "type=%1&roomId=%2&globalId=%3"};
inline constexpr ServiceEndpoint kAddHistoryGift{"report/service/roomReport/addHistory",
                                                 "type=%1&roomId=%2&globalId=%3&count=%4"};

// Images: GET "uds/upload" + path (posters, whose paths begin with "/") or
// "uds/upload/" + path (avatars, chat and recommendation pictures).
inline constexpr char kUploadPrefix[] = "uds/upload";

// Web pages opened in the browser; %1 is the key from putRedis where used.
inline constexpr char kPageRegister[] = "tavolin/views/register.html";
inline constexpr char kPageShortMessageLogin[] = "tavolin/mes-login.html";
inline constexpr char kPageMyClass[] = "tavolin/views/personalCenter/myclass.html?Keycode=%1";
inline constexpr char kPageRecharge[] =
    "tavolin/views/personalCenter/rechargeCenter.html?Keycode=%1";
inline constexpr char kPageMyMessage[] = "tavolin/views/personalCenter/myMessage.html?Keycode=%1";
inline constexpr char kPageClassRoom[] = "tavolin/views/tav-smallclass/classRoom.html?Keycode=%1";
inline constexpr char kPageNotice[] = "tavolin/views/notice.html";
inline constexpr char kPageIndex[] = "tavolin/index.html";
inline constexpr char kPageSmallClassIndex[] = "tavolin/views/tav-smallclass/index.html";

}  // namespace ServiceApi
