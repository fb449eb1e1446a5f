#!/usr/bin/env python3
"""Writes the movie fuzz target's seeds: a short all-intra H.264 movie as recordings are,
and copies of it damaged as files on disk get damaged: cut short, boxes with wrong sizes, a
zero frame rate and time scale, a huge declared picture size and sample sizes.

Usage: make_movie_corpus.py OUTPUT_FOLDER   (needs ffmpeg with libx264)
"""
import os
import struct
import subprocess
import sys
import tempfile


def movie():
    with tempfile.TemporaryDirectory() as work:
        path = os.path.join(work, "movie.mp4")
        subprocess.run(
            ["ffmpeg", "-loglevel", "error", "-f", "lavfi", "-i",
             "testsrc=size=32x24:rate=10", "-t", "0.5", "-pix_fmt", "yuv420p",
             "-c:v", "libx264", "-g", "1", "-preset", "ultrafast", path],
            check=True)
        with open(path, "rb") as f:
            return f.read()


def box(data, kind):
    """Offset of the first box of that kind (its size field)."""
    at = data.find(kind)
    if at < 4:
        raise SystemExit(f"no {kind!r} box")
    return at - 4


def patched(data, offset, fmt, value):
    out = bytearray(data)
    struct.pack_into(fmt, out, offset, value)
    return bytes(out)


def main():
    folder = sys.argv[1]
    os.makedirs(folder, exist_ok=True)
    good = movie()
    mdhd, tkhd, stts = box(good, b"mdhd"), box(good, b"tkhd"), box(good, b"stts")
    stsz, avc1, moov = box(good, b"stsz"), box(good, b"avc1"), box(good, b"moov")
    mdat = box(good, b"mdat")
    seeds = {
        "good.mp4": good,
        "cut_half.mp4": good[: len(good) // 2],
        "cut_last_bytes.mp4": good[:-7],
        "without_media_data.mp4": good[:mdat] if mdat > moov else good[mdat + 8:],
        "moov_larger_than_file.mp4": patched(good, moov, ">I", 0x7FFFFFF0),
        "mdat_size_zero.mp4": patched(good, mdat, ">I", 1),
        # mdhd: size, type, version+flags, creation, modification, time scale, duration
        "time_scale_zero.mp4": patched(good, mdhd + 20, ">I", 0),
        "duration_huge.mp4": patched(good, mdhd + 24, ">I", 0xFFFFFFFF),
        # stts: size, type, version+flags, entry count, (sample count, sample delta)...
        "frame_duration_zero.mp4": patched(good, stts + 20, ">I", 0),
        "frame_count_huge.mp4": patched(good, stts + 16, ">I", 0x7FFFFFFF),
        # tkhd (version 0): ... width and height as 16.16 at its end
        "track_size_huge.mp4": patched(
            patched(good, tkhd + 84, ">I", 0xFFFF0000), tkhd + 88, ">I", 0xFFFF0000),
        # avc1: size, type, 6 reserved, data reference, 16 predefined, width, height
        "sample_entry_size_huge.mp4": patched(
            patched(good, avc1 + 32, ">H", 0xFFFF), avc1 + 34, ">H", 0xFFFF),
        "sample_entry_size_zero.mp4": patched(
            patched(good, avc1 + 32, ">H", 0), avc1 + 34, ">H", 0),
        # stsz: size, type, version+flags, sample size, sample count, sizes...
        "sample_sizes_huge.mp4": patched(good, stsz + 20, ">I", 0x7FFFFFFF),
        "sample_count_huge.mp4": patched(good, stsz + 16, ">I", 0x7FFFFFFF),
    }
    for name, data in seeds.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
