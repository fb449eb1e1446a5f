#!/usr/bin/env python3
"""Writes the watermark image fuzz target's seeds: small PNG, JPEG, GIF (two frames) and WebP
pictures, and headers that declare pictures far beyond the program's limits.

Usage: make_watermark_corpus.py OUTPUT_FOLDER   (needs ImageMagick's convert)
"""
import os
import struct
import subprocess
import sys
import zlib


def png_chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def main():
    folder = sys.argv[1]
    os.makedirs(folder, exist_ok=True)
    for name in ["small.png", "small.jpg", "small.webp"]:
        subprocess.run(["convert", "-size", "12x8", "gradient:red-blue",
                        os.path.join(folder, name)], check=True)
    subprocess.run(["convert", "-delay", "10", "-size", "12x8", "xc:red", "xc:blue",
                    os.path.join(folder, "two_frames.gif")], check=True)
    # A PNG header of 20000 x 20000 pixels with valid checksums and a tiny compressed body.
    ihdr = struct.pack(">IIBBBBB", 20000, 20000, 8, 6, 0, 0, 0)
    png = (b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", ihdr) +
           png_chunk(b"IDAT", zlib.compress(b"\0" * 64)) + png_chunk(b"IEND", b""))
    with open(os.path.join(folder, "png_huge_header.png"), "wb") as f:
        f.write(png)
    # A GIF whose screen and image declare 65535 x 65535 pixels.
    gif = (b"GIF89a" + struct.pack("<HHBBB", 65535, 65535, 0x80, 0, 0) + b"\0\0\0\xff\xff\xff" +
           b"," + struct.pack("<HHHHB", 0, 0, 65535, 65535, 0) + b"\x02\x02\x44\x01\x00;")
    with open(os.path.join(folder, "gif_huge_header.gif"), "wb") as f:
        f.write(gif)
    # A JPEG whose frame header declares 65500 x 65500 pixels.
    with open(os.path.join(folder, "small.jpg"), "rb") as f:
        jpeg = bytearray(f.read())
    sof = jpeg.find(b"\xff\xc0")
    if sof < 0:
        sof = jpeg.find(b"\xff\xc2")
    struct.pack_into(">HH", jpeg, sof + 5, 65500, 65500)
    with open(os.path.join(folder, "jpeg_huge_header.jpg"), "wb") as f:
        f.write(jpeg)


if __name__ == "__main__":
    main()
