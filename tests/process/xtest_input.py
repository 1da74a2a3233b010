"""Types keys and clicks on the X display through the X test extension, as a
user would, for the GUI process tests.

    python3 xtest_input.py [--stop-file FILE] READY-FILE ACTION...

waits until READY-FILE exists (the script under test writes it once its
window is up), then performs each action in order:
    key:NAME          press and release the key with that keysym name (a, Return, F1)
    key:MOD+...+NAME  the same with modifier keys held (Control_L+a, Shift_L+a)
    type:TEXT         press and release the key of each character of TEXT
    click:X,Y         move the pointer to screen point X,Y, wait until a window
                      shows under it, and click the left button
    wait:FILE         wait until FILE exists (the script under test writes it
                      once it has handled what came before)

X delivers the events of one client in order, so keys need no pause between
them; a wait is only needed where the program must reach a state first.
Every wait polls with a deadline of 60 seconds times KEL_TEST_TIME_FACTOR
(set by tests/support/time.sh); the run ends with status 1 when a deadline
passes, or at once when the --stop-file exists (the program has ended).
"""
import ctypes
import os
import sys
import time

args = sys.argv[1:]
stop_file = None
if args[:1] == ['--stop-file']:
    stop_file, args = args[1], args[2:]
ready, actions = args[0], args[1:]
limit = 60 * max(1, int(os.environ.get('KEL_TEST_TIME_FACTOR', '1') or 1))


def wait_for(condition, what):
    deadline = time.monotonic() + limit
    while not condition():
        if stop_file and os.path.exists(stop_file):
            sys.exit(f'xtest_input: the program ended while waiting for {what}')
        if time.monotonic() > deadline:
            sys.exit(f'xtest_input: {what} did not come within {limit} s')
        time.sleep(0.05)


wait_for(lambda: os.path.exists(ready), ready)

x11 = ctypes.CDLL('libX11.so.6')
xtst = ctypes.CDLL('libXtst.so.6')
x11.XOpenDisplay.restype = ctypes.c_void_p
x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
x11.XDefaultRootWindow.restype = ctypes.c_ulong
x11.XStringToKeysym.argtypes = [ctypes.c_char_p]
x11.XStringToKeysym.restype = ctypes.c_ulong
x11.XKeysymToKeycode.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
x11.XFlush.argtypes = [ctypes.c_void_p]
x11.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
x11.XQueryPointer.argtypes = [ctypes.c_void_p, ctypes.c_ulong] + [ctypes.POINTER(ctypes.c_ulong)] * 2 + \
    [ctypes.POINTER(ctypes.c_int)] * 4 + [ctypes.POINTER(ctypes.c_uint)]
xtst.XTestFakeKeyEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int, ctypes.c_ulong]
xtst.XTestFakeMotionEvent.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int, ctypes.c_int, ctypes.c_ulong]
xtst.XTestFakeButtonEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int, ctypes.c_ulong]
display = x11.XOpenDisplay(None)
if not display:
    sys.exit('xtest_input: no X display')
root = x11.XDefaultRootWindow(display)


def flush():
    x11.XFlush(display)
    time.sleep(0.05)


def window_under_pointer():
    """True when a mapped top-level window lies under the pointer."""
    root_back, child = ctypes.c_ulong(), ctypes.c_ulong()
    ints = [ctypes.c_int() for _ in range(4)]
    mask = ctypes.c_uint()
    x11.XQueryPointer(display, root, ctypes.byref(root_back), ctypes.byref(child),
                      *(ctypes.byref(i) for i in ints), ctypes.byref(mask))
    return child.value != 0


def keysym(name):
    return x11.XStringToKeysym(name.encode())


def key(sym, down):
    xtst.XTestFakeKeyEvent(display, x11.XKeysymToKeycode(display, sym), down, 0)
    flush()


def tap(syms):
    for sym in syms:
        key(sym, 1)
    for sym in reversed(syms):
        key(sym, 0)


for action in actions:
    kind, _, arg = action.partition(':')
    if kind == 'key':
        tap([keysym(name) for name in arg.split('+')])
    elif kind == 'type':
        # Latin-1 characters are their own keysyms.
        for c in arg:
            tap([ord(c)])
    elif kind == 'click':
        x, y = (int(v) for v in arg.split(','))
        xtst.XTestFakeMotionEvent(display, -1, x, y, 0)
        x11.XSync(display, 0)
        wait_for(window_under_pointer, f'a window at {x},{y}')
        xtst.XTestFakeButtonEvent(display, 1, 1, 0)
        xtst.XTestFakeButtonEvent(display, 1, 0, 0)
        flush()
    elif kind == 'wait':
        wait_for(lambda: os.path.exists(arg), arg)
    else:
        sys.exit(f'xtest_input: unknown action {action}')
