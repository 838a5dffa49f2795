#!/usr/bin/env python3
"""Holds an active grab of the X pointer until it is ended: road.sh runs it so that no Wine window ever hears the
pointer enter it (Wine turns that into mouse input, which Windows never does). The keyboard is not grabbed."""
import ctypes
import ctypes.util
import signal
import sys
import time

GRAB_SUCCESS = 0
GRAB_MODE_ASYNC = 1
# ButtonPress, ButtonRelease, EnterWindow, LeaveWindow, PointerMotion
EVENTS = (1 << 2) | (1 << 3) | (1 << 4) | (1 << 5) | (1 << 6)

x11 = ctypes.cdll.LoadLibrary(ctypes.util.find_library("X11") or "libX11.so.6")
x11.XOpenDisplay.restype = ctypes.c_void_p
x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
x11.XDefaultRootWindow.restype = ctypes.c_ulong
x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
x11.XGrabPointer.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_uint, ctypes.c_int,
                             ctypes.c_int, ctypes.c_ulong, ctypes.c_ulong, ctypes.c_ulong]
x11.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]

display = x11.XOpenDisplay(None)
if not display:
    sys.exit("hold_pointer: no X display")
root = x11.XDefaultRootWindow(display)
for _ in range(50):
    result = x11.XGrabPointer(display, root, 0, EVENTS, GRAB_MODE_ASYNC, GRAB_MODE_ASYNC, 0, 0, 0)
    if result == GRAB_SUCCESS:
        break
    time.sleep(0.1)
else:
    sys.exit(f"hold_pointer: the pointer cannot be grabbed ({result})")
x11.XSync(display, 0)
print("held", flush=True)
signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
while True:
    signal.pause()
