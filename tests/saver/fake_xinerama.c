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
    *event_base = *error_base = 0;
    return display != NULL;
}

int XineramaIsActive(void* display) {
    return display != NULL;
}

XineramaScreenInfo* XineramaQueryScreens(void* display, int* count) {
    const char* heads = getenv("FAKE_XINERAMA");
    XineramaScreenInfo* screens = calloc(16, sizeof *screens);
    int x, y, w, h;
    for (*count = 0; display && heads && *count < 16 && sscanf(heads, "%d,%d,%d,%d", &x, &y, &w, &h) == 4; ++*count) {
        screens[*count] = (XineramaScreenInfo){*count, (short)x, (short)y, (short)w, (short)h};
        heads = strchr(heads, ';') ? strchr(heads, ';') + 1 : NULL;
    }
    return screens;
}
