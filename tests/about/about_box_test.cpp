#include "about/about_box.h"

#include <gtest/gtest.h>

#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <vector>

#include "about/jpeg_image.h"
#include "platform/cp1251.h"
#include "platform/qt_glue.h"
#include "platform/shell.h"
#include "tests/support/qt_environment.h"

namespace vestrel {

extern const unsigned char kAboutPicture[];
extern const std::size_t kAboutPictureSize;

namespace {

QString Utf8(const char* text) {
  return QString::fromUtf8(text);
}

class AboutBoxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = platform::SetShellHook([this](const platform::ShellRequest& r) {
      requests_.push_back(r);
      return true;
    });
  }
  void TearDown() override { platform::SetShellHook(previous_); }

  // Shows the box modally and presses Ok once it is up; returns exec()'s result.
  static int ExecAndPressOk(TAboutBox& box, bool* was_modal = nullptr) {
    QTimer::singleShot(0, &box, [&box, was_modal] {
      if (was_modal) *was_modal = QApplication::activeModalWidget() == &box;
      QTest::mouseClick(box.Button1, Qt::LeftButton);
    });
    return box.exec();
  }

  platform::ShellHook previous_;
  std::vector<platform::ShellRequest> requests_;
};

TEST_F(AboutBoxTest, CreationSetsWidthButtonAndVersionLine) {
  TAboutBox box;
  EXPECT_FALSE(box.isVisible());
  EXPECT_EQ(box.windowTitle(), Utf8("О программе..."));
  EXPECT_EQ(box.pos(), QPoint(290, 188));
  EXPECT_EQ(box.OuterWidth(), 281);  // 76 + 185 + 20
  EXPECT_EQ(box.height(), 171);
  EXPECT_EQ(box.Button1->geometry(), QRect(103, 141, 75, 25));
  EXPECT_EQ(box.Label2->text(), Utf8("Версия: " VESTREL_VERSION));
  EXPECT_EQ(box.Label2->pos(), QPoint(80, 48));
  // The version line sizes itself to its text.
  EXPECT_EQ(box.Label2->size(), box.Label2->sizeHint());

  // Fixed size, no close box, no system menu.
  EXPECT_EQ(box.minimumSize(), box.maximumSize());
  const auto flags = box.windowFlags();
  EXPECT_FALSE(flags & Qt::WindowCloseButtonHint);
  EXPECT_FALSE(flags & Qt::WindowSystemMenuHint);
  EXPECT_FALSE(flags & Qt::WindowMinMaxButtonsHint);

  box.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&box));
  EXPECT_EQ(box.OuterWidth(), 281);
  box.hide();
}

TEST_F(AboutBoxTest, ControlsTextFontsAndColours) {
  TAboutBox box;
  EXPECT_EQ(box.font().pixelSize(), 11);

  EXPECT_EQ(box.Image1->geometry(), QRect(0, 0, 71, 71));
  EXPECT_EQ(box.Label1->text(), "Vestrel");
  EXPECT_EQ(box.Label1->pos(), QPoint(76, 0));
  EXPECT_EQ(box.Label1->width(), 185);
  EXPECT_TRUE(box.Label1->wordWrap());
  EXPECT_EQ(box.Label1->font().pixelSize(), 21);
  EXPECT_TRUE(box.Label1->font().bold());
  EXPECT_EQ(box.Label1->palette().color(QPalette::WindowText), QColor(Qt::red));

  EXPECT_EQ(box.Label2->font().pixelSize(), 16);
  EXPECT_TRUE(box.Label2->font().bold());
  EXPECT_EQ(box.Label2->palette().color(QPalette::WindowText), QColor(Qt::blue));

  EXPECT_EQ(box.Label3->text(), Utf8("© 2026 Vestrel developers"));
  EXPECT_EQ(box.Label3->pos(), QPoint(3, 72));
  EXPECT_EQ(box.Label3->font().pixelSize(), 12);
  EXPECT_TRUE(box.Label3->font().bold());

  EXPECT_EQ(box.Label4->text(), "E-mail: vestrel@example.org");
  EXPECT_EQ(box.Label4->pos(), QPoint(3, 96));
  EXPECT_EQ(box.Label4->font().pixelSize(), 15);
  EXPECT_TRUE(box.Label4->font().underline());
  EXPECT_EQ(box.Label4->cursor().shape(), Qt::PointingHandCursor);
  EXPECT_EQ(box.Label4->palette().color(QPalette::WindowText), QColor(Qt::blue));

  EXPECT_EQ(box.Label5->text(), "https://vestrel.example.org");
  EXPECT_EQ(box.Label5->pos(), QPoint(4, 117));
  EXPECT_EQ(box.Label5->font().family(), "Times New Roman");
  EXPECT_EQ(box.Label5->font().pixelSize(), 12);
  EXPECT_TRUE(box.Label5->font().underline());
  EXPECT_EQ(box.Label5->cursor().shape(), Qt::PointingHandCursor);

  EXPECT_EQ(box.Button1->text(), "Ok");
  EXPECT_EQ(box.Button1->font().pixelSize(), 15);
  EXPECT_TRUE(box.Button1->font().bold());
  EXPECT_TRUE(box.Button1->isDefault());
  // The only control that takes the focus.
  for (QWidget* w : box.findChildren<QWidget*>()) {
    if (w != box.Button1) {
      EXPECT_EQ(w->focusPolicy(), Qt::NoFocus) << w->metaObject()->className();
    }
  }
}

// What the labels look like on screen, not only what their palettes say.
TEST_F(AboutBoxTest, LabelsAreDrawnInTheirColours) {
  TAboutBox box;
  box.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&box));
  auto count = [](QWidget* w, auto match) {
    const QImage image = w->grab().toImage();
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
      for (int x = 0; x < image.width(); ++x) n += match(image.pixelColor(x, y)) ? 1 : 0;
    return n;
  };
  auto red = [](QColor c) { return c.red() > 200 && c.green() < 60 && c.blue() < 60; };
  auto blue = [](QColor c) { return c.blue() > 200 && c.red() < 60 && c.green() < 60; };
  auto dark = [](QColor c) { return c.red() < 60 && c.green() < 60 && c.blue() < 60; };
  EXPECT_GT(count(box.Label1, red), 20);
  EXPECT_EQ(count(box.Label1, blue), 0);
  EXPECT_GT(count(box.Label2, blue), 20);
  EXPECT_GT(count(box.Label4, blue), 20);
  EXPECT_GT(count(box.Label5, blue), 20);
  EXPECT_GT(count(box.Label3, dark), 20);
  EXPECT_EQ(count(box.Label3, red) + count(box.Label3, blue), 0);
  // The dialog's background is the button face.
  EXPECT_EQ(box.grab().toImage().pixelColor(box.width() - 2, box.height() - 2),
            box.palette().color(QPalette::Button));
  box.hide();
}

TEST_F(AboutBoxTest, PictureIsTheDecodedJpeg) {
  TAboutBox box;
  const QPixmap pixmap = box.Image1->pixmap();
  ASSERT_FALSE(pixmap.isNull());
  EXPECT_EQ(pixmap.size(), QSize(71, 71));
  const auto decoded = DecodeJpeg({kAboutPicture, kAboutPictureSize});
  ASSERT_TRUE(decoded);
  const QImage shown = pixmap.toImage();
  for (QPoint p : {QPoint(0, 0), QPoint(35, 35), QPoint(60, 15), QPoint(70, 70)}) {
    const auto* rgb = &decoded->pixels[(p.y() * 71 + p.x()) * 3];
    EXPECT_EQ(shown.pixelColor(p), QColor(rgb[0], rgb[1], rgb[2])) << p.x() << "," << p.y();
  }
}

TEST_F(AboutBoxTest, LinksGoToTheDesktop) {
  TAboutBox box;
  box.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&box));
  QTest::mouseClick(box.Label4, Qt::LeftButton);
  QTest::mouseClick(box.Label5, Qt::LeftButton);
  QTest::mouseClick(box.Label4, Qt::RightButton);  // not a click on the link
  ASSERT_EQ(requests_.size(), 2u);
  EXPECT_EQ(requests_[0].url, "mailto:vestrel@example.org");
  EXPECT_EQ(requests_[0].verb, "open");
  EXPECT_EQ(requests_[1].url, "https://vestrel.example.org");
  // A press on the link and a release elsewhere is no click.
  QTest::mousePress(box.Label5, Qt::LeftButton, {}, QPoint(2, 2));
  QTest::mouseRelease(box.Label5, Qt::LeftButton, {}, QPoint(-20, 40));
  EXPECT_EQ(requests_.size(), 2u);
  // A refusal by the desktop is not reported.
  platform::SetShellHook([](const platform::ShellRequest&) { return false; });
  box.Label4Click(box.Label4);
  box.hide();
}

TEST_F(AboutBoxTest, ModalOkReturnsOneAndTheBoxKeepsItsContents) {
  TAboutBox box;
  bool modal = false;
  EXPECT_EQ(ExecAndPressOk(box, &modal), 1);
  EXPECT_TRUE(modal);
  EXPECT_FALSE(box.isVisible());
  const QString line = box.Label2->text();
  EXPECT_EQ(ExecAndPressOk(box), 1);
  EXPECT_EQ(box.Label2->text(), line);
  EXPECT_EQ(box.OuterWidth(), 281);
  EXPECT_EQ(box.Button1->x(), 103);
}

// Escape does nothing; Return on the focused Ok closes the box.
TEST_F(AboutBoxTest, OkIsTheOnlyWayOut) {
  TAboutBox box;
  bool open_after_escape = false;
  QTimer::singleShot(0, &box, [&] {
    QTest::keyClick(&box, Qt::Key_Escape);
    QTest::keyClick(box.Button1, Qt::Key_Escape);
    open_after_escape = box.isVisible();
    QTest::keyClick(box.Button1, Qt::Key_Return);
  });
  EXPECT_EQ(box.exec(), 1);
  EXPECT_TRUE(open_after_escape);
}

// Wherever the box was left, each showing starts at the designed place.
TEST_F(AboutBoxTest, EveryShowingStartsAtTheDesignedPlace) {
  TAboutBox box;
  QTimer::singleShot(0, &box, [&box] {
    box.move(40, 30);
    QTest::mouseClick(box.Button1, Qt::LeftButton);
  });
  box.exec();
  QPoint shown_at;
  QTimer::singleShot(0, &box, [&] {
    shown_at = box.pos();
    QTest::mouseClick(box.Button1, Qt::LeftButton);
  });
  box.exec();
  EXPECT_EQ(shown_at, QPoint(290, 188));
}

// Over its owner the box blocks the owner only: a window of its own, such as
// the notification-area icon, still takes the mouse.
TEST_F(AboutBoxTest, OverAnOwnerOnlyTheOwnerIsBlocked) {
  QPushButton owner("owner");
  QPushButton other("other");
  owner.show();
  other.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&other));
  int owner_clicks = 0, other_clicks = 0;
  QObject::connect(&owner, &QPushButton::clicked, [&] { ++owner_clicks; });
  QObject::connect(&other, &QPushButton::clicked, [&] { ++other_clicks; });
  TAboutBox box(&owner);
  // Through the windows, where the window system's clicks arrive and a modal box blocks them.
  const auto click = [](QWidget& button) {
    QTest::mouseClick(button.windowHandle(), Qt::LeftButton, {}, button.rect().center());
  };
  QTimer::singleShot(0, &box, [&] {
    click(owner);
    click(other);
    QTest::mouseClick(box.Button1, Qt::LeftButton);
  });
  EXPECT_EQ(box.exec(), 1);
  EXPECT_EQ(owner_clicks, 0);
  EXPECT_EQ(other_clicks, 1);
}

}  // namespace
}  // namespace vestrel
