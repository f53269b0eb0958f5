#include "Classroom.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "WndDragFilter.h"

Classroom::Classroom(const ClassroomEntry& entry, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint), entry_(entry) {
  setObjectName(QStringLiteral("Classroom"));
  setAttribute(Qt::WA_StyledBackground);
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(entry.roomName);
  resize(1280, 760);
  installEventFilter(new WndDragFilter(this));

  auto* title = new QLabel(entry.roomName, this);
  title->setObjectName(QStringLiteral("classroomTitle"));
  auto* teacher = new QLabel(QStringLiteral("老师：") + entry.ownerName, this);
  auto* leave = new QPushButton(this);
  leave->setObjectName(QStringLiteral("titleClose"));
  leave->setToolTip(QStringLiteral("离开教室"));
  connect(leave, &QPushButton::clicked, this, &QWidget::close);

  auto* header = new QHBoxLayout;
  header->setContentsMargins(16, 8, 8, 8);
  header->addWidget(title);
  header->addSpacing(16);
  header->addWidget(teacher);
  header->addStretch();
  header->addWidget(leave);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addLayout(header);
  layout->addStretch();
}

void Classroom::closeEvent(QCloseEvent* event) {
  leaving_ = true;
  emit signal_exit_classroom();
  event->accept();
}
