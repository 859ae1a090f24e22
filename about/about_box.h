#pragma once
// TAboutBox: the modal About dialog with the program's picture, its title, the
// file version read from the executable's own version block, a copyright line
// and two links handed to the desktop. The program reads its version line once
// at start-up, after the main window, and makes the box at its first showing
// (TAboutBoxMaker); it is shown modally from the main window's Help menu.

#include <QDialog>
#include <QLabel>
#include <QPointer>

#include <functional>
#include <optional>
#include <string>

#include "about/about_texts.h"

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
  static constexpr const char* kMailAddress = about_texts::kMailAddress;
  static constexpr const char* kSiteUrl = about_texts::kSiteUrl;
  static constexpr const char* kCopyright = about_texts::kCopyright;

  // Reads the version line from the executable.
  explicit TAboutBox(QWidget* parent = nullptr);
  // Shows the version read before (Windows-1251; empty when there is none);
  // none: reads it from the executable.
  TAboutBox(QWidget* parent, std::optional<std::string> version);

  // The executable's file version from its version block (Windows-1251);
  // empty when there is no block or no executable path.
  static std::string ReadVersion();

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
  bool placing_ = false;                // shown, and the window manager's frame not yet seen
  std::optional<std::string> version_;  // none: read at creation
};

// Makes the program's About box at its first showing. The version line is
// read when the maker is made, at start-up; the picture, the fonts and the
// controls are made when the operator first asks for the box, which then
// stays, a child of the owner, for every later showing.
class TAboutBoxMaker {
 public:
  explicit TAboutBoxMaker(QWidget* owner);
  ~TAboutBoxMaker();
  TAboutBoxMaker(const TAboutBoxMaker&) = delete;
  TAboutBoxMaker& operator=(const TAboutBoxMaker&) = delete;

  // The box over the owner, made at the first call.
  TAboutBox* Box();
  // The box if it has been made.
  TAboutBox* Made() const { return box_; }

 private:
  QWidget* owner_;
  std::optional<std::string> version_;  // none: reading it failed
  QPointer<TAboutBox> box_;             // gone with the owner, if that goes first
};

// The box the main window's Help menu shows; when it is null, the one the
// program's maker makes (null when there is no maker either).
extern TAboutBox* AboutBox;
extern TAboutBoxMaker* AboutBoxMaker;

}  // namespace vestrel
