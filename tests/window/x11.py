#!/usr/bin/env python3
"""Small X11 helpers for the window tests, and a listener that counts connections.

  x11.py close WINDOW_ID   asks the window to close, as a window manager's close button does
                           (a WM_DELETE_WINDOW message under WM_PROTOCOLS)
  x11.py colours FILE.xwd TOP
                           prints how many different colours the screenshot has below row TOP
  x11.py page-top FILE.xwd prints the first row, down the right edge, whose colour is far from
                           the top row's: where a page under a dark dialog backdrop starts below
                           the light menu bar
  x11.py changed BEFORE.xwd AFTER.xwd FROM_ROW FROM_COLUMN
                           prints "TOP BOTTOM LEFT RIGHT HEIGHT" of the box around the pixels that
                           differ clearly between two screenshots of one window (soft shadows
                           aside), below FROM_ROW and right of FROM_COLUMN (away from a blinking
                           caret), HEIGHT being the screenshot's; or "none"
  x11.py listen NAME       listens on a free loopback port, written to NAME.port, and adds a
                           line to NAME.log for every connection made to it
"""
import ctypes
import ctypes.util
import socket
import struct
import sys


def close_window(window_id):
    xlib = ctypes.cdll.LoadLibrary(ctypes.util.find_library("X11"))
    xlib.XOpenDisplay.restype = ctypes.c_void_p
    xlib.XOpenDisplay.argtypes = [ctypes.c_char_p]
    xlib.XInternAtom.restype = ctypes.c_ulong
    xlib.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
    xlib.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long,
                                ctypes.c_void_p]
    xlib.XFlush.argtypes = [ctypes.c_void_p]
    xlib.XCloseDisplay.argtypes = [ctypes.c_void_p]

    class ClientMessage(ctypes.Structure):
        _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong),
                    ("send_event", ctypes.c_int), ("display", ctypes.c_void_p),
                    ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                    ("format", ctypes.c_int), ("data", ctypes.c_long * 5)]

    class Event(ctypes.Union):
        _fields_ = [("xclient", ClientMessage), ("pad", ctypes.c_long * 24)]

    display = xlib.XOpenDisplay(None)
    if not display:
        sys.exit("cannot open display")
    event = Event()
    event.xclient.type = 33  # ClientMessage
    event.xclient.window = window_id
    event.xclient.message_type = xlib.XInternAtom(display, b"WM_PROTOCOLS", 0)
    event.xclient.format = 32
    event.xclient.data[0] = xlib.XInternAtom(display, b"WM_DELETE_WINDOW", 0)
    event.xclient.data[1] = 0  # CurrentTime
    xlib.XSendEvent(display, window_id, 0, 0, ctypes.byref(event))
    xlib.XFlush(display)
    xlib.XCloseDisplay(display)


def read_xwd(path):
    """Returns (width, height, row) for a 32-bit screenshot; row(y) gives that row's bytes."""
    data = open(path, "rb").read()
    fields = struct.unpack(">25I", data[:100])
    header_size, bits_per_pixel, bytes_per_line = fields[0], fields[11], fields[12]
    width, height, colour_count = fields[4], fields[5], fields[19]
    if bits_per_pixel != 32:
        sys.exit("expected 32 bits per pixel, got %d" % bits_per_pixel)
    pixels = header_size + 12 * colour_count

    def row(y):
        start = pixels + y * bytes_per_line
        return data[start:start + 4 * width]

    return width, height, row


def count_colours(path, top):
    width, height, row = read_xwd(path)
    colours = set()
    for y in range(top, height):
        line = row(y)
        colours.update(line[i:i + 4] for i in range(0, len(line), 4))
    print(len(colours))


def page_top(path):
    width, height, row = read_xwd(path)
    at = 4 * (width - 2)
    first = row(0)[at:at + 3]
    for y in range(height):
        pixel = row(y)[at:at + 3]
        if max(abs(a - b) for a, b in zip(pixel, first)) > 80:
            print(y)
            return
    print(height)


def changed_box(before_path, after_path, from_row, from_column):
    width, height, before = read_xwd(before_path)
    _, _, after = read_xwd(after_path)
    top = bottom = left = right = None
    for y in range(from_row, height):
        old, new = before(y), after(y)
        if old == new:
            continue
        for x in range(from_column, width):
            a, b = old[4 * x:4 * x + 3], new[4 * x:4 * x + 3]
            if max(abs(p - q) for p, q in zip(a, b)) > 24:
                top = y if top is None else top
                bottom = y
                left = x if left is None else min(left, x)
                right = x if right is None else max(right, x)
    if top is None:
        print("none")
    else:
        print(top, bottom, left, right, height)


def listen(name):
    server = socket.socket()
    server.bind(("127.0.0.1", 0))
    server.listen(16)
    with open(name + ".port", "w") as port_file:
        port_file.write(str(server.getsockname()[1]))
    while True:
        connection, _ = server.accept()
        with open(name + ".log", "a") as log:
            log.write("connection\n")
        connection.close()


if __name__ == "__main__":
    if sys.argv[1] == "close":
        close_window(int(sys.argv[2], 0))
    elif sys.argv[1] == "colours":
        count_colours(sys.argv[2], int(sys.argv[3]))
    elif sys.argv[1] == "page-top":
        page_top(sys.argv[2])
    elif sys.argv[1] == "changed":
        changed_box(sys.argv[2], sys.argv[3], int(sys.argv[4]), int(sys.argv[5]))
    elif sys.argv[1] == "listen":
        listen(sys.argv[2])
    else:
        sys.exit(__doc__)
