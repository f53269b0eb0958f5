#include "MaterialsPanel.h"

#include <QFrame>
#include <QVBoxLayout>

#include "CoursewareList.h"
#include "DocumentList.h"

MaterialsPanel::MaterialsPanel(ClassroomContext& context, SharedArea& area, QWidget* parent)
    : QWidget(parent),
      documents_(new DocumentList(context, area, this)),
      coursewares_(new CoursewareList(context, this)) {
  setObjectName(QStringLiteral("materialsPanel"));
  auto* line = new QFrame(this);
  line->setFrameShape(QFrame::HLine);
  line->setObjectName(QStringLiteral("materialsDivider"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(documents_, 1);
  layout->addWidget(line);
  layout->addWidget(coursewares_, 1);
}
