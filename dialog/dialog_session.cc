#include "dialog_session.h"

#include <unistd.h>

#include <QCoreApplication>
#include <QTimer>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "chooser_dialog.h"
#include "file_dialogs.h"
#include "prompts.h"
#include "ui_text.h"

namespace quillmark::dialog {

namespace gui = platform::ui::gui;
using platform::ui::DialogKind;

LineReader::Result LineReader::Next(std::string* line) {
  if (TakeLine(line)) return Result::kLine;
  if (buffer_.size() > limit_) return Result::kTooLong;
  char chunk[65536];
  ssize_t n;
  do {
    n = ::read(fd_, chunk, sizeof chunk);
  } while (n < 0 && errno == EINTR);
  if (n <= 0) return Result::kEnd;
  buffer_.append(chunk, static_cast<std::size_t>(n));
  if (TakeLine(line)) return Result::kLine;
  return buffer_.size() > limit_ ? Result::kTooLong : Result::kMore;
}

bool LineReader::TakeLine(std::string* line) {
  const std::size_t end = buffer_.find('\n');
  if (end == std::string::npos || end > limit_) return false;
  line->assign(buffer_, 0, end);
  buffer_.erase(0, end + 1);
  return true;
}

DialogSession::DialogSession(int in_fd, int out_fd)
    : out_fd_(out_fd), reader_(in_fd, gui::kMaxRequestLine) {}

DialogSession::~DialogSession() = default;

bool DialogSession::Begin() {
  std::string line;
  LineReader::Result r;
  while ((r = reader_.Next(&line)) == LineReader::Result::kMore) {
  }
  if (r != LineReader::Result::kLine) {
    std::fputs(r == LineReader::Result::kEnd ? "quillmark-dialog: no request on standard input\n"
                                             : "quillmark-dialog: the request is too long\n",
               stderr);
    return false;
  }
  gui::Request request;
  std::string error;
  if (!gui::DecodeRequest(line, &request, &error)) {
    std::fprintf(stderr, "quillmark-dialog: not a request: %s\n", error.c_str());
    return false;
  }
  Show(request);
  notifier_ = std::make_unique<QSocketNotifier>(0, QSocketNotifier::Read);
  QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { OnInput(); });
  return true;
}

bool DialogSession::ready() const {
  auto* chooser = dynamic_cast<ChooserDialog*>(window_.get());
  return chooser == nullptr || !chooser->waiting();
}

void DialogSession::Show(const gui::Request& request) {
  const QString origin = ToQ(request.origin);
  AnswerSink sink = [this](const gui::Answer& a) { Send(a); };
  switch (request.kind) {
    case DialogKind::kChooser:
      window_ = std::make_unique<ChooserDialog>(request.chooser, origin, sink);
      break;
    case DialogKind::kOpen:
      window_ = std::make_unique<FileDialog>(request.open, origin, sink);
      break;
    case DialogKind::kSave:
      window_ = std::make_unique<FileDialog>(request.save, origin, sink);
      break;
    case DialogKind::kMessage:
      window_ = std::make_unique<MessageDialog>(request.message, origin, sink);
      break;
    case DialogKind::kConsent:
      window_ = std::make_unique<ConsentDialog>(origin, sink);
      break;
    case DialogKind::kConfirm:
      window_ = std::make_unique<ConfirmDialog>(request.key_use, sink);
      break;
    case DialogKind::kPin:
      window_ = std::make_unique<PinDialog>(request.pin, origin, sink);
      break;
  }
  window_->setAttribute(Qt::WA_DeleteOnClose, false);
  window_->show();
  window_->raise();
  window_->activateWindow();
}

void DialogSession::Send(const gui::Answer& answer) {
  std::string line = gui::EncodeAnswer(answer) + "\n";
  std::size_t done = 0;
  while (done < line.size()) {
    ssize_t n = ::write(out_fd_, line.data() + done, line.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  std::memset(line.data(), 0, line.size());
  const bool stays =
      answer.action == gui::Answer::Action::kView || answer.action == gui::Answer::Action::kSort;
  if (!stays) QTimer::singleShot(0, [] { QCoreApplication::exit(0); });
}

void DialogSession::OnInput() {
  for (;;) {
    std::string line;
    switch (reader_.Next(&line)) {
      case LineReader::Result::kMore:
        return;
      case LineReader::Result::kEnd:
        // The caller is gone or done: nothing is waiting for an answer.
        notifier_->setEnabled(false);
        QCoreApplication::exit(0);
        return;
      case LineReader::Result::kTooLong:
        std::fputs("quillmark-dialog: a request line is too long\n", stderr);
        QCoreApplication::exit(2);
        return;
      case LineReader::Result::kLine:
        break;
    }
    gui::Request request;
    std::string error;
    auto* chooser = dynamic_cast<ChooserDialog*>(window_.get());
    if (!gui::DecodeRequest(line, &request, &error) || chooser == nullptr ||
        request.kind != DialogKind::kChooser) {
      std::fprintf(stderr, "quillmark-dialog: unexpected input: %s\n",
                   error.empty() ? "not an updated chooser request" : error.c_str());
      QCoreApplication::exit(2);
      return;
    }
    chooser->Show(request.chooser);
    // Only one read per notification, so that a redraw is never starved.
    return;
  }
}

}  // namespace quillmark::dialog
