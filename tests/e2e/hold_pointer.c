/* Holds an active grab of the X pointer until it is ended: road.sh runs it so that no Wine window ever hears the
   pointer enter it (Wine turns that into mouse input, which Windows never does). Keyboard input is not grabbed. */
#include <X11/Xlib.h>
#include <stdio.h>
#include <unistd.h>

int main(void) {
    Display* display = XOpenDisplay(NULL);
    if (!display) {
        fprintf(stderr, "hold_pointer: no X display\n");
        return 1;
    }
    const unsigned int events =
        ButtonPressMask | ButtonReleaseMask | PointerMotionMask | EnterWindowMask | LeaveWindowMask;
    int result = AlreadyGrabbed;
    for (int attempt = 0; attempt < 50 && result != GrabSuccess; ++attempt) {
        result = XGrabPointer(display, DefaultRootWindow(display), False, events, GrabModeAsync, GrabModeAsync, None,
                              None, CurrentTime);
        if (result != GrabSuccess) usleep(100000);
    }
    if (result != GrabSuccess) {
        fprintf(stderr, "hold_pointer: the pointer cannot be grabbed (%d)\n", result);
        return 1;
    }
    XSync(display, False);
    printf("held\n");
    fflush(stdout);
    for (;;)
        pause();
}
