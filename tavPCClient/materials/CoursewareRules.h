// What courseware editing and publishing accept, and the description tag a
// published recording carries.
#pragma once

#include <QString>

namespace courseware {

constexpr int kMaxNameLength = 20;
constexpr int kMaxSummaryLength = 50;

// Why an edit is refused (the toast), or empty when it may be sent. price is
// the text typed; a valid one is stored in *priceOut.
QString editRefusal(const QString& name, const QString& summary, const QString& price,
                    int* priceOut);

// "roomId=%1,globalId=%2,coursewareName=%3,price=%4,description=%5,grade=%6",
// every ASCII comma in the user's texts replaced by the full-width comma.
QString descriptionTag(quint32 roomId, quint32 userId, const QString& name, int price,
                       const QString& description, const QString& grade);

// "课件：%1  概要：%2  价格：%3星豆  上传者：%4  年级：%5"
QString itemToolTip(const QString& name, const QString& summary, int price,
                    const QString& uploader, const QString& grade);

}  // namespace courseware
