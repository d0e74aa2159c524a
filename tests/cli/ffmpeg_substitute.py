#!/usr/bin/env python3
"""Stands in for FFmpeg without a camera or VideoToolbox (give it with --ffmpeg): the AVFoundation input
becomes a paced lavfi test pattern (with a sine tone unless the audio device is "none"), h264_videotoolbox
becomes libx264 and "-t $CASTORA_SUBSTITUTE_SECONDS" (default 4) goes before the output part; then it execs
the real ffmpeg, so signals reach FFmpeg. When the marker path $CASTORA_SUBSTITUTE_FAIL_ONCE does not exist
yet, it is created and this run ends with status 1 after FFmpeg's, which provokes a restart."""
import os
import shutil
import subprocess
import sys


def substitute(argv, seconds="4"):
    """The rewritten vector (element 0 kept); raises ValueError when the input is not found."""
    args = list(argv)
    for i in range(len(args) - 7):
        if args[i:i + 2] == ["-f", "avfoundation"] and args[i + 2] == "-framerate" \
                and args[i + 4] == "-video_size" and args[i + 6] == "-i":
            rate, size, devices = args[i + 3], args[i + 5], args[i + 7]
            break
    else:
        raise ValueError("no AVFoundation input in the vector")
    graph = f"testsrc2=size={size}:rate={rate}[out0]"
    if not devices.endswith(":none"):
        graph += ";sine=frequency=440:sample_rate=48000[out1]"
    args[i:i + 8] = ["-re", "-f", "lavfi", "-i", graph]
    args[args.index("h264_videotoolbox")] = "libx264"
    # The output part starts at "-flags" (tee mode) or at the last "-f" (the output format).
    starts = [j for j, a in enumerate(args) if a == "-flags"] or \
             [j for j, a in enumerate(args) if a == "-f"][-1:]
    args[starts[0]:starts[0]] = ["-t", str(seconds)]
    return args


def main():
    ffmpeg = shutil.which("ffmpeg", path="/usr/bin:/usr/local/bin:" + os.environ.get("PATH", ""))
    if ffmpeg is None:
        sys.stderr.write("ffmpeg_substitute: no ffmpeg found\n")
        return 127
    args = substitute(sys.argv, os.environ.get("CASTORA_SUBSTITUTE_SECONDS", "4"))
    args[0] = ffmpeg
    marker = os.environ.get("CASTORA_SUBSTITUTE_FAIL_ONCE")
    if marker and not os.path.exists(marker):
        open(marker, "w").close()
        subprocess.run(args, stdin=subprocess.DEVNULL)
        return 1
    os.execv(ffmpeg, args)


if __name__ == "__main__":
    sys.exit(main())
