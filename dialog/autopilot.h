// Scripted use of the helper's own windows, for tests and screenshots
// without a person: $QUILLMARK_DIALOG_AUTOPILOT names a file of steps, one a
// line, which are performed with synthetic mouse and key events on the real
// widgets, one step at a time while the window is not waiting for its
// caller:
//
//   select ITEM        click the chooser row whose item data is ITEM
//   pick SUBJECT       click the chooser row whose subject is SUBJECT
//   double ITEM        double-click the row whose item data is ITEM
//   header C           click the header of column C
//   click NAME         click the button with object name NAME (ok, cancel,
//                      view, allow, always, deny, sign, close)
//   key KEY            press KEY (a key sequence text: Esc, Return, Down, Tab)
//   type TEXT          type TEXT into the widget that has the focus
//   shot FILE          save a PNG of the window
//   expect-rows A B .. the chooser shows these items, top to bottom
//   scroll-end         press Ctrl+End in the review pane's text (nothing
//                      when the window shows no review text)
//   expect-ok on|off   the chooser's OK (the confirmation's Sign) button is
//                      enabled or not
//   wait MS            pause
//
// Blank lines and lines starting with '#' are skipped. A step that cannot be
// performed or an expectation that fails ends the program with status 3 and
// one line on standard error.
#ifndef QUILLMARK_DIALOG_AUTOPILOT_H_
#define QUILLMARK_DIALOG_AUTOPILOT_H_

#include <QDialog>
#include <QStringList>
#include <QTimer>
#include <functional>

namespace quillmark::dialog {

class Autopilot {
 public:
  // |ready| tells whether the window may be used now.
  Autopilot(QStringList steps, QDialog* window, std::function<bool()> ready);

  // The steps of $QUILLMARK_DIALOG_AUTOPILOT; false when it is not set.
  static bool StepsFromEnvironment(QStringList* steps);

  void Start();

 private:
  void Tick();
  bool Perform(const QString& step, QString* error);

  QStringList steps_;
  QDialog* window_;
  std::function<bool()> ready_;
  QTimer timer_;
  qsizetype next_ = 0;
  int pause_ = 0;
};

}  // namespace quillmark::dialog

#endif  // QUILLMARK_DIALOG_AUTOPILOT_H_
