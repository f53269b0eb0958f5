// The materials tab: the room's shared documents above its courseware.
#pragma once

#include <QWidget>

class ClassroomContext;
class CoursewareList;
class DocumentList;
class SharedArea;

class MaterialsPanel : public QWidget {
  Q_OBJECT

public:
  MaterialsPanel(ClassroomContext& context, SharedArea& area, QWidget* parent = nullptr);

private:
  DocumentList* documents_;
  CoursewareList* coursewares_;
};
