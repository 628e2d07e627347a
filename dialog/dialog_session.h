// One helper run: the request read from standard input becomes a window;
// its answers go to standard output as protocol lines (gui_protocol.h). The
// chooser's updated requests are read as they come and redrawn. The run
// ends after a closing answer, or when the input ends (the caller is gone),
// or with status 2 on a line that is not a request.
#ifndef QUILLMARK_DIALOG_DIALOG_SESSION_H_
#define QUILLMARK_DIALOG_DIALOG_SESSION_H_

#include <QDialog>
#include <QSocketNotifier>
#include <memory>
#include <string>

#include "platform/ui/gui_protocol.h"

namespace quillmark::dialog {

// Reads lines from a descriptor, at most |limit| bytes each.
class LineReader {
 public:
  enum class Result { kLine, kMore, kEnd, kTooLong };
  LineReader(int fd, std::size_t limit) : fd_(fd), limit_(limit) {}
  // A buffered line if there is one, else one read() and then a line if
  // that completed one.
  Result Next(std::string* line);

 private:
  bool TakeLine(std::string* line);

  int fd_;
  std::size_t limit_;
  std::string buffer_;
};

class DialogSession {
 public:
  DialogSession(int in_fd, int out_fd);
  ~DialogSession();

  // Reads the first request (blocking) and shows its window. False, after
  // one line on standard error, when there is none.
  bool Begin();

  QDialog* window() const { return window_.get(); }
  // False while the chooser waits for its updated request.
  bool ready() const;

 private:
  void Show(const platform::ui::gui::Request& request);
  void Send(const platform::ui::gui::Answer& answer);
  void OnInput();

  int out_fd_;
  LineReader reader_;
  std::unique_ptr<QSocketNotifier> notifier_;
  std::unique_ptr<QDialog> window_;
};

}  // namespace quillmark::dialog

#endif  // QUILLMARK_DIALOG_DIALOG_SESSION_H_
