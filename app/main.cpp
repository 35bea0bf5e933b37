#include <QApplication>

#include "app/MainForm.h"
#include "app/Role.h"
#include "hosting/ServerForm.h"
#include "platform/ui/Fonts.h"

// In its own file: Xlib's macros (None, Bool, Status, ...) clash with Qt's headers.
void InitXlibThreads();

namespace {

int RunUserInterface(int argc, char** argv) {
  // Embedding another process's video window needs X11 (XWayland on Wayland desktops).
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "xcb");
  QApplication app(argc, argv);
  // The designs name "MS UI Gothic" for the half-width katakana texts.
  quorvex::ui::SubstituteUiGothicFont();
  QStringList files = QApplication::arguments();
  files.removeFirst();
  quorvex::MainForm form(files);
  form.move(0, 0);
  form.show();
  return app.exec() == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  if (quorvex::ChooseRole(args) == quorvex::Role::kServer) {
    // The video sink draws from GStreamer's threads: Xlib must be thread-safe before any call.
    InitXlibThreads();
    return quorvex::RunServer(argc, argv);
  }
  return RunUserInterface(argc, argv);
}
