// Stands in for the desktop's settings program: maps one normal window
// whose class names it (or the name given as the argument), with its process id, and waits to be killed.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdio>
#include <string>
#include <unistd.h>

int main(int argc, char** argv) {
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) return 1;
    const int screen = DefaultScreen(display);
    const Window window = XCreateSimpleWindow(display, RootWindow(display, screen), 120, 90, 560, 420, 0,
                                              BlackPixel(display, screen), WhitePixel(display, screen));
    std::string name = argc > 1 ? argv[1] : "gnome-control-center";
    std::string className = name;
    className[0] = static_cast<char>(className[0] - 'a' + 'A');
    XClassHint hint{name.data(), className.data()};
    XSetClassHint(display, window, &hint);
    XStoreName(display, window, "Settings");
    const long pid = getpid();
    XChangeProperty(display, window, XInternAtom(display, "_NET_WM_PID", False), XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&pid), 1);
    XSizeHints size{};
    size.flags = USPosition | PPosition;
    size.x = 120;
    size.y = 90;
    XSetWMNormalHints(display, window, &size);
    XMapWindow(display, window);
    XFlush(display);
    std::puts("mapped");
    std::fflush(stdout);
    XEvent event;
    for (;;) XNextEvent(display, &event);
}
