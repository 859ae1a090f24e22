#pragma once
// TAboutBox: the modal About dialog with the program's picture, its title, the
// file version read from the executable's own version block, a copyright line
// and two links handed to the desktop. Created once, hidden, at start-up after
// the main window; shown modally from the main window's Help menu.

#include <QDialog>
#include <QLabel>

#include <functional>

class QPushButton;

namespace vestrel {

// A label that reports a left click (press and release on it) in OnClick.
class TLinkLabel : public QLabel {
 public:
  using QLabel::QLabel;
  std::function<void(QObject*)> OnClick;

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  bool pressed_ = false;
};

class TAboutBox : public QDialog {
 public:
  // The contact details behind the links (Windows-1251).
  static const char kMailAddress[];
  static const char kSiteUrl[];
  static const char kCopyright[];

  explicit TAboutBox(QWidget* parent = nullptr);

  QLabel* Image1;
  QLabel* Label1;
  QLabel* Label2;
  QLabel* Label3;
  TLinkLabel* Label4;
  TLinkLabel* Label5;
  QPushButton* Button1;

  void FormCreate(QObject* sender);
  void Label4Click(QObject* sender);
  void Label5Click(QObject* sender);

  // Where the frame's top-left corner stands at every showing.
  static constexpr int kLeft = 290;
  static constexpr int kTop = 188;

  // Width of the window with its frame.
  int OuterWidth() const;

  // Every showing puts the frame at (kLeft, kTop) first.
  void setVisible(bool visible) override;

 protected:
  void showEvent(QShowEvent* event) override;
  bool event(QEvent* event) override;
  // Keeps the box at its one size when a window manager maximises it or
  // makes it full-screen.
  void changeEvent(QEvent* event) override;
  // Escape does not close the box: Ok is the only way out.
  void keyPressEvent(QKeyEvent* event) override;

 private:
  // Keeps the outer width at width: the frame is known only once the window
  // manager has put one around the window, so the client width follows it.
  void SetOuterWidth(int width);
  void ApplyOuterWidth();
  // Outer width, and the frame's corner at (kLeft, kTop).
  void PlaceFrame();

  int outer_width_ = 0;
  bool placing_ = false;  // shown, and the window manager's frame not yet seen
};

// The instance made at start-up.
extern TAboutBox* AboutBox;

}  // namespace vestrel
