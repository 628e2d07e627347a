// quillmark-dialog: shows one dialog for the desktop dialog host.
//
//   quillmark-dialog              a request on standard input (gui_protocol.h)
//   quillmark-dialog --view FILE  the certificate viewer for FILE (DER or PEM)
//
// Exit status: 0 after an answer or when the caller closes the input, 2 for
// a bad request or arguments, 3 for a failed autopilot step (autopilot.h).
#include <QApplication>
#include <QStringList>
#include <cstdio>
#include <cstring>
#include <memory>

#include "autopilot.h"
#include "cert_viewer.h"
#include "dialog_session.h"

namespace {

using quillmark::dialog::Autopilot;

int View(const char* path) {
  quillmark::dialog::CertView view;
  std::string error;
  if (!quillmark::dialog::LoadCertView(path, &view, &error)) {
    std::fprintf(stderr, "quillmark-dialog: %s\n", error.c_str());
    return 2;
  }
  quillmark::dialog::CertViewer viewer(view);
  viewer.show();
  QStringList steps;
  std::unique_ptr<Autopilot> pilot;
  if (Autopilot::StepsFromEnvironment(&steps)) {
    pilot = std::make_unique<Autopilot>(steps, &viewer, nullptr);
    pilot->Start();
  }
  viewer.exec();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("quillmark-dialog"));
  QApplication::setQuitOnLastWindowClosed(false);
  if (argc == 3 && std::strcmp(argv[1], "--view") == 0) return View(argv[2]);
  if (argc != 1) {
    std::fputs("usage: quillmark-dialog [--view FILE]\n", stderr);
    return 2;
  }
  quillmark::dialog::DialogSession session(0, 1);
  if (!session.Begin()) return 2;
  QStringList steps;
  std::unique_ptr<Autopilot> pilot;
  if (Autopilot::StepsFromEnvironment(&steps)) {
    pilot = std::make_unique<Autopilot>(steps, session.window(),
                                        [&session] { return session.ready(); });
    pilot->Start();
  }
  return QApplication::exec();
}
