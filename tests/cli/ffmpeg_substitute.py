#!/usr/bin/env python3
"""Stands in for FFmpeg on a Mac (give it with --ffmpeg), wrapping the real ffmpeg ($CASTORA_REAL_FFMPEG, else the
one on the PATH). Its listings (-version, -devices, -encoders, ...) are the real ones plus the two parts a Mac build has
and this machine lacks: the AVFoundation input device and the h264_videotoolbox encoder. In a run, the AVFoundation
input becomes a paced lavfi test pattern (with a tone unless the audio device is "none"), h264_videotoolbox becomes
libx264 and "-t $CASTORA_SUBSTITUTE_SECONDS" (default 4) goes before the outputs; then it execs the real ffmpeg, so
signals reach FFmpeg. While the marker $CASTORA_SUBSTITUTE_FAIL_ONCE does not exist, it is made and the run ends
with 1. With $CASTORA_SUBSTITUTE_CAMERA ("1280x720@30 640x480@30") it plays a camera offering just those modes: any
other size or rate is refused with AVFoundation's lines and the real FFmpeg's own ending and status. With
$CASTORA_SUBSTITUTE_STILL the picture is a still colour instead of a moving pattern; with
$CASTORA_SUBSTITUTE_STALL_AFTER (seconds, with --no-audio) the camera delivers frames that long and then none; with
$CASTORA_SUBSTITUTE_PRESET libx264 encodes with that preset ("slow": more than this machine keeps up with)."""
import os
import re
import shutil
import subprocess
import sys
import time

MAC_PARTS = {"-devices": " D  avfoundation    AVFoundation input device\n",
             "-encoders": " V....D h264_videotoolbox    VideoToolbox H.264 Encoder (codec h264)\n"}
args = list(sys.argv)
args[0] = os.environ.get("CASTORA_REAL_FFMPEG") or shutil.which("ffmpeg", path="/usr/bin:" + os.environ["PATH"])
if "-i" not in args:  # a listing
    answer = subprocess.run(args, stdin=subprocess.DEVNULL, capture_output=True, text=True)
    sys.stdout.write(answer.stdout + MAC_PARTS.get(args[-1], ""))
    sys.exit(answer.returncode)
at = args.index("avfoundation") - 1  # -f avfoundation -framerate R -video_size S -i DEVICES
rate, size, devices = args[at + 3], args[at + 5], args[at + 7]
modes = [mode.split("@") for mode in os.environ.get("CASTORA_SUBSTITUTE_CAMERA", "").split()]
if modes and not any(size == s and abs(float(rate) - float(r)) < 0.01 for s, r in modes):
    version = subprocess.run([args[0], "-version"], capture_output=True, text=True).stdout
    avformat = tuple(int(n) for n in re.search(r"^libavformat +(\d+)\. *(\d+)\.(\d+)", version, re.M).groups())
    # From libavformat 62.9.100 (FFmpeg 8.1) on, the input logs under its name, in#0.
    log = "[in#0 @ 0x600001e8c000] " if avformat >= (62, 9, 100) else "[avfoundation @ 0x7f8b1c000000] "
    # A built-in camera lists one line per pixel format: through a pipe, FFmpeg's logger keeps the first of
    # identical lines and counts the rest.
    listed = "".join(f"{log}  {s}@[1.000000 {float(r):f}]fps\n    Last message repeated 2 times\n" for s, r in modes)
    sys.stderr.write(log + (f"Selected framerate ({float(rate):f})" if size in dict(modes) else
                            f"Selected video size ({size})") + " is not supported by the device.\n" + log +
                     "Supported modes:\n" + listed)
    if version.startswith("ffmpeg version 5"):
        sys.exit(sys.stderr.write(f"{devices}: Input/output error\n") and 1)
    sys.exit(sys.stderr.write(f"[in#0 @ 0x55d0c0a0e940] Error opening input: Input/output error\nError opening input "
                              f"file {devices}.\nError opening input files: Input/output error\n") and 251)
graph = ("color=c=0x336699:" if os.environ.get("CASTORA_SUBSTITUTE_STILL") else "testsrc2=") + f"size={size}:rate={rate}[out0]" + ("" if devices.endswith(":none") else
                                                   ";sine=frequency=440:sample_rate=48000[out1]")
args[at:at + 8] = ["-re", "-f", "lavfi", "-i", graph]
stall = os.environ.get("CASTORA_SUBSTITUTE_STALL_AFTER")
if stall:  # a camera that delivers frames for a while, then none, without closing
    width, height = (int(n) for n in size.split("x"))
    frame, pause = bytes(width * height * 3 // 2), 1 / float(rate)
    read_end, write_end = os.pipe()
    if os.fork() == 0:
        os.close(read_end)
        feeder = os.getppid()
        for _ in range(int(float(stall) * float(rate))):
            os.write(write_end, frame)
            time.sleep(pause)
        while os.getppid() == feeder:  # holds the pipe open until FFmpeg is gone
            time.sleep(0.2)
        os._exit(0)
    os.close(write_end)
    os.dup2(read_end, 0)
    args[at:at + 5] = ["-f", "rawvideo", "-pix_fmt", "yuv420p", "-video_size", size, "-framerate", rate, "-i",
                       "pipe:0"]
args[args.index("h264_videotoolbox")] = "libx264"
if os.environ.get("CASTORA_SUBSTITUTE_PRESET"):  # an encode too heavy for the machine
    args[args.index("libx264") + 1:args.index("libx264") + 1] = ["-preset", os.environ["CASTORA_SUBSTITUTE_PRESET"]]
outputs = args.index("-flags") if "-flags" in args else len(args) - 3  # tee mode, or "-f FORMAT URL"
args[outputs:outputs] = ["-t", os.environ.get("CASTORA_SUBSTITUTE_SECONDS", "4")]
marker = os.environ.get("CASTORA_SUBSTITUTE_FAIL_ONCE")
if marker and not os.path.exists(marker):
    open(marker, "w").close()
    subprocess.run(args, stdin=subprocess.DEVNULL)
    sys.exit(1)
os.execv(args[0], args)
