#include <QApplication>
#include <QFile>

#include <malloc.h>

#include <cstdio>

#include "app/MainForm.h"
#include "app/Role.h"
#include "exporter/Exporter.h"
#include "hosting/ServerForm.h"
#include "platform/ui/Fonts.h"

// In its own file: Xlib's macros (None, Bool, Status, ...) clash with Qt's headers.
void InitXlibThreads();

namespace {

int RunUserInterface(int argc, char** argv) {
  // Embedding another process's video window needs X11 (XWayland on Wayland desktops).
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "xcb");
  // Qt takes options of its own ("-style", "-display", "-reverse", ...) out of the arguments
  // it is given; here every argument is a movie path, so Qt sees the program name alone.
  int qt_argc = 1;
  char program[] = "quorvex";
  char* qt_argv[] = {argc > 0 ? argv[0] : program, nullptr};
  QApplication app(qt_argc, qt_argv);
  // The designs name "MS UI Gothic" for the half-width katakana texts.
  quorvex::ui::SubstituteUiGothicFont();
  QStringList files;
  for (int i = 1; i < argc; ++i)
    files << QFile::decodeName(argv[i]);  // the bytes the user gave, as file names are read
  quorvex::MainForm form(files);
  form.move(0, 0);
  form.show();
  return app.exec() == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  const quorvex::Role role = quorvex::ChooseRole(args);
  // Headless: no display, no Qt application.
  if (role == quorvex::Role::kExport)
    return quorvex::exporter::ExportMain(args);
  if (role == quorvex::Role::kServer) {
    // The video sink draws from GStreamer's threads: Xlib must be thread-safe before any call.
    InitXlibThreads();
    // A server makes and drops pictures of megabytes on several streaming threads, and each
    // thread's heap keeps what it once held: two heaps keep far less. (A fixed threshold that
    // maps every picture on its own would keep less still, but costs a fifth of a core while
    // playing 1080p60.)
    mallopt(M_ARENA_MAX, 2);
    return quorvex::RunServer(argc, argv);
  }
  // Answered before Qt starts: no display is needed for them.
  const quorvex::TerminalRequest request = quorvex::ChooseTerminalRequest(args);
  if (request != quorvex::TerminalRequest::kNone) {
    std::fputs(quorvex::TerminalAnswer(request).c_str(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
  }
  return RunUserInterface(argc, argv);
}
