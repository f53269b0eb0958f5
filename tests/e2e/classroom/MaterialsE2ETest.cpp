// Shared pictures through the real service, file server, message server and
// MCU: the teacher's window shares a large picture, a student's window (a
// process of its own) shows it scaled as the teacher prepared it, pixel for
// pixel; rotation, actual size and dragging reach it; a student entering
// later gets what is shown at once.
#include <QImage>
#include <QPushButton>

#include "ClassroomFixture.h"
#include "PicRenderWidget.h"
#include "PixelDigest.h"
#include "SharedArea.h"
#include "WindowMember.h"

namespace {

class MaterialsE2E : public ClassroomTest {
protected:
  std::unique_ptr<WindowMember> window(const QString& account) {
    return std::make_unique<WindowMember>(account, kRoom, servers_.host(), servers_.mcuPort(),
                                          servers_.msgPort(), home_.home());
  }
  // What the teacher's own area shows, in the student's report form.
  QString teacherShows() {
    SharedArea& area = *part<SharedArea>();
    const SharedArea::State& st = area.state();
    const QImage picture = area.view()->picture().toImage();
    return QStringList{QStringLiteral("shared"),
                       QString::number(st.mode),
                       st.fileName,
                       QString::number(st.page),
                       QString::number(st.rotation),
                       QString::number(st.displayMode),
                       QStringLiteral("%1x%2").arg(picture.width()).arg(picture.height()),
                       testsupport::pixelDigest(picture)}
        .join(' ');
  }
  // Waits until the student shows exactly what the teacher shows.
  bool sameAsTeacher(WindowMember& student, int from) {
    return waitUntil([&] {
      const QString expected = teacherShows();
      return student.lines().indexOf(expected, from) >= 0;
    });
  }
};

}  // namespace

TEST_F(MaterialsE2E, ASharedPictureReachesStudentsAsTheTeacherShowsIt) {
  ASSERT_TRUE(enter("teacher"));
  ASSERT_TRUE(connected());
  part<QPushButton>("btnStartClass")->click();
  ASSERT_TRUE(waitUntil([&] { return session().classInProgress(); }));
  SharedArea& area = *part<SharedArea>();

  auto pupil = window("student1");
  ASSERT_TRUE(pupil->waitFor("ready")) << pupil->lines().join('\n').toStdString();

  // A 4000x3000 photograph: shared as 1920x1440, the same pixels on both sides.
  QImage photo(4000, 3000, QImage::Format_RGB32);
  for (int y = 0; y < photo.height(); ++y)
    for (int x = 0; x < photo.width(); x += 50)
      for (int i = 0; i < 50; ++i)
        photo.setPixel(x + i, y, qRgb((x / 50) * 3 % 256, y % 256, 90));
  const QString source = home_.home() + "/课堂照片 1.jpg";
  ASSERT_TRUE(photo.save(source, "JPEG", 92));
  int mark = pupil->mark();
  area.sharePicture(source);
  // The sharing right comes from the media server first.
  ASSERT_TRUE(waitUntil([&] { return area.state().mode == 2; }));
  EXPECT_TRUE(area.isSharer());
  EXPECT_EQ(area.view()->picture().size(), QSize(1920, 1440));
  EXPECT_TRUE(sameAsTeacher(*pupil, mark)) << pupil->lines().join('\n').toStdString() << "\nteacher: "
                                           << teacherShows().toStdString();

  // Rotation, actual size and a drag follow.
  mark = pupil->mark();
  area.btnForwardRotate_clicked();
  EXPECT_EQ(area.view()->picture().size(), QSize(1440, 1920));
  EXPECT_TRUE(sameAsTeacher(*pupil, mark)) << teacherShows().toStdString();
  mark = pupil->mark();
  area.btnPicAdaptWnd_clicked();
  ASSERT_EQ(area.state().displayMode, 1);
  EXPECT_TRUE(sameAsTeacher(*pupil, mark)) << teacherShows().toStdString();
  const QRect before = area.state().rect;
  mark = pupil->mark();
  area.picDispWidget_mouseMove(-40, -30);
  EXPECT_EQ(area.state().rect, before.translated(40, 30));
  EXPECT_TRUE(sameAsTeacher(*pupil, mark)) << teacherShows().toStdString();

  // A student entering now asks the teacher and sees the same at once.
  auto late = window("student2");
  ASSERT_TRUE(late->waitFor("ready")) << late->lines().join('\n').toStdString();
  EXPECT_TRUE(sameAsTeacher(*late, 0)) << late->lines().join('\n').toStdString();
}
