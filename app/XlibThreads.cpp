#include <X11/Xlib.h>

void InitXlibThreads() {
  XInitThreads();
}
