/* Stands in for libXinerama.so.1 so that Wine sees several heads on one wide Xvfb screen.
   Heads come from FAKE_XINERAMA="x,y,w,h;x,y,w,h"; the first one is the primary monitor. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

typedef struct {
    int screen_number;
    short x_org, y_org, width, height;
} XineramaScreenInfo;

int XineramaQueryExtension(void* display, int* event_base, int* error_base) {
    (void)display;
    *event_base = *error_base = 0;
    return 1;
}

int XineramaIsActive(void* display) {
    (void)display;
    return 1;
}

XineramaScreenInfo* XineramaQueryScreens(void* display, int* count) {
    const char* heads = getenv("FAKE_XINERAMA");
    XineramaScreenInfo* screens = calloc(16, sizeof *screens);
    int k = 0, x, y, w, h;
    (void)display;
    while (heads && k < 16 && sscanf(heads, "%d,%d,%d,%d", &x, &y, &w, &h) == 4) {
        screens[k].screen_number = k;
        screens[k].x_org = (short)x;
        screens[k].y_org = (short)y;
        screens[k].width = (short)w;
        screens[k].height = (short)h;
        k++;
        heads = strchr(heads, ';');
        if (heads) heads++;
    }
    *count = k;
    return screens;
}
