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

  DocumentList* documents() const { return documents_; }
  CoursewareList* coursewares() const { return coursewares_; }

private:
  DocumentList* documents_;
  CoursewareList* coursewares_;
};
