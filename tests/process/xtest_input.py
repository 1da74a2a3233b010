"""Types keys and clicks on the X display through the X test extension, as a
user would, for the GUI process tests.

    python3 xtest_input.py READY-FILE ACTION...

waits until READY-FILE exists (the script under test writes it once its
window is up), then performs each action in order:
    key:NAME          press and release the key with that keysym name (a, Return, F1)
    key:MOD+...+NAME  the same with modifier keys held (Control_L+a, Shift_L+a)
    click:X,Y         move the pointer to screen point X,Y and click the left button
"""
import ctypes
import os
import sys
import time

ready = sys.argv[1]
deadline = time.time() + 600
while not os.path.exists(ready) and time.time() < deadline:
    time.sleep(0.05)
time.sleep(0.5)

x11 = ctypes.CDLL('libX11.so.6')
xtst = ctypes.CDLL('libXtst.so.6')
x11.XOpenDisplay.restype = ctypes.c_void_p
x11.XStringToKeysym.argtypes = [ctypes.c_char_p]
x11.XStringToKeysym.restype = ctypes.c_ulong
x11.XKeysymToKeycode.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
x11.XFlush.argtypes = [ctypes.c_void_p]
xtst.XTestFakeKeyEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int, ctypes.c_ulong]
xtst.XTestFakeMotionEvent.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int, ctypes.c_int, ctypes.c_ulong]
xtst.XTestFakeButtonEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int, ctypes.c_ulong]
display = x11.XOpenDisplay(None)


def flush():
    x11.XFlush(display)
    time.sleep(0.05)


def key(name, down):
    code = x11.XKeysymToKeycode(display, x11.XStringToKeysym(name.encode()))
    xtst.XTestFakeKeyEvent(display, code, down, 0)
    flush()


for action in sys.argv[2:]:
    kind, _, arg = action.partition(':')
    if kind == 'key':
        names = arg.split('+')
        for name in names:
            key(name, 1)
        for name in reversed(names):
            key(name, 0)
    elif kind == 'click':
        x, y = (int(v) for v in arg.split(','))
        xtst.XTestFakeMotionEvent(display, -1, x, y, 0)
        flush()
        xtst.XTestFakeButtonEvent(display, 1, 1, 0)
        xtst.XTestFakeButtonEvent(display, 1, 0, 0)
        flush()
