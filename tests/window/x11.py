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
  x11.py repack FILE.xwd OUT.xwd BITS lsb|msb
                           writes the screenshot again with BITS (24 or 32) per pixel in that
                           byte order: a layout another X server may give, to check the reader
  x11.py find FILE.xwd RRGGBB
                           prints "X Y", the centre of the pixels of that colour (give or take
                           a little), or "none"
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


# The header fields of an XWD file, in order: 25 big-endian 32-bit words.
HEADER_FIELDS = ("header_size file_version pixmap_format pixmap_depth width height xoffset "
                 "byte_order bitmap_unit bitmap_bit_order bitmap_pad bits_per_pixel "
                 "bytes_per_line visual_class red_mask green_mask blue_mask bits_per_rgb "
                 "colormap_entries colour_count window_width window_height window_x window_y "
                 "window_border").split()
Z_PIXMAP = 2
LSB_FIRST = 0


def read_header(data, path):
    if len(data) < 100:
        sys.exit("%s: too short for a screenshot" % path)
    return dict(zip(HEADER_FIELDS, struct.unpack(">25I", data[:100])))


def channel_bytes(header):
    """Where red, green and blue sit in a pixel's bytes, as byte offsets; None when a channel
    is not one whole byte (then pixels are taken apart bit by bit)."""
    size = header["bits_per_pixel"] // 8
    offsets = []
    for mask in (header["red_mask"], header["green_mask"], header["blue_mask"]):
        shift = (mask & -mask).bit_length() - 1
        if mask >> shift != 0xFF or shift % 8:
            return None
        offsets.append(shift // 8 if header["byte_order"] == LSB_FIRST else size - 1 - shift // 8)
    return offsets


def read_xwd(path):
    """Returns (width, height, row) for a true-colour screenshot as the X server gave it: 24 or
    32 bits per pixel (or another whole number of bytes), either byte order, each scanline
    padded to bytes_per_line. row(y) gives that row as red, green, blue bytes, 3 per pixel."""
    data = open(path, "rb").read()
    header = read_header(data, path)
    width, height = header["width"], header["height"]
    bits = header["bits_per_pixel"]
    masks = (header["red_mask"], header["green_mask"], header["blue_mask"])
    if header["pixmap_format"] != Z_PIXMAP or bits % 8 or bits > 32 or not all(masks):
        sys.exit("%s: not a true-colour ZPixmap (format %d, %d bits per pixel, masks %s)" %
                 (path, header["pixmap_format"], bits, [hex(mask) for mask in masks]))
    size = bits // 8
    bytes_per_line = header["bytes_per_line"]
    if bytes_per_line < size * width:
        sys.exit("%s: %d bytes per line for %d pixels of %d bytes" %
                 (path, bytes_per_line, width, size))
    pixels = header["header_size"] + 12 * header["colour_count"]
    if len(data) < pixels + bytes_per_line * height:
        sys.exit("%s: cut short (%d bytes)" % (path, len(data)))
    offsets = channel_bytes(header)
    order = "little" if header["byte_order"] == LSB_FIRST else "big"
    shifts = [(mask & -mask).bit_length() - 1 for mask in masks]

    def row(y):
        start = pixels + y * bytes_per_line
        line = data[start:start + size * width]
        rgb = bytearray(3 * width)
        if offsets is not None:
            for channel, offset in enumerate(offsets):
                rgb[channel::3] = line[offset::size]
            return bytes(rgb)
        for x in range(width):
            value = int.from_bytes(line[size * x:size * (x + 1)], order)
            for channel, (mask, shift) in enumerate(zip(masks, shifts)):
                rgb[3 * x + channel] = ((value & mask) >> shift) * 255 // (mask >> shift)
        return bytes(rgb)

    return width, height, row


def repack(path, out_path, bits_per_pixel, byte_order):
    """Writes the screenshot again with BITS_PER_PIXEL (24 or 32) in BYTE_ORDER (lsb or msb),
    scanlines padded to 32 bits: the layouts another X server may give, to check the reader."""
    width, height, row = read_xwd(path)
    data = open(path, "rb").read()
    header = read_header(data, path)
    size = bits_per_pixel // 8
    bytes_per_line = (size * width + 3) // 4 * 4
    header.update(pixmap_format=Z_PIXMAP, byte_order=0 if byte_order == "lsb" else 1,
                  bitmap_bit_order=0 if byte_order == "lsb" else 1, bitmap_unit=32,
                  bitmap_pad=32, bits_per_pixel=bits_per_pixel, bytes_per_line=bytes_per_line,
                  red_mask=0xFF0000, green_mask=0xFF00, blue_mask=0xFF, colour_count=0,
                  colormap_entries=0)
    out = bytearray(struct.pack(">25I", *(header[name] for name in HEADER_FIELDS)))
    out += data[100:header["header_size"]]  # the window's name
    offsets = channel_bytes(header)
    for y in range(height):
        line = bytearray(bytes_per_line)
        rgb = row(y)
        for channel, offset in enumerate(offsets):
            line[offset:size * width:size] = rgb[channel::3]
        out += line
    with open(out_path, "wb") as out_file:
        out_file.write(out)


def count_colours(path, top):
    width, height, row = read_xwd(path)
    colours = set()
    for y in range(top, height):
        line = row(y)
        colours.update(line[i:i + 3] for i in range(0, len(line), 3))
    print(len(colours))


def page_top(path):
    width, height, row = read_xwd(path)
    at = 3 * (width - 2)
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
            a, b = old[3 * x:3 * x + 3], new[3 * x:3 * x + 3]
            if max(abs(p - q) for p, q in zip(a, b)) > 24:
                top = y if top is None else top
                bottom = y
                left = x if left is None else min(left, x)
                right = x if right is None else max(right, x)
    if top is None:
        print("none")
    else:
        print(top, bottom, left, right, height)


def find_colour(path, colour):
    width, height, row = read_xwd(path)
    wanted = bytes.fromhex(colour)
    xs, ys = [], []
    # Every other pixel both ways is enough for the blocks looked for, and four times as quick.
    for y in range(0, height, 2):
        line = row(y)
        for x in range(0, width, 2):
            if max(abs(a - b) for a, b in zip(line[3 * x:3 * x + 3], wanted)) <= 6:
                xs.append(x)
                ys.append(y)
    if xs:
        print((min(xs) + max(xs)) // 2, (min(ys) + max(ys)) // 2)
    else:
        print("none")


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
    elif sys.argv[1] == "repack":
        repack(sys.argv[2], sys.argv[3], int(sys.argv[4]), sys.argv[5])
    elif sys.argv[1] == "find":
        find_colour(sys.argv[2], sys.argv[3])
    elif sys.argv[1] == "listen":
        listen(sys.argv[2])
    else:
        sys.exit(__doc__)
