#!/usr/bin/env python3
# Swaps each folder named WATCHED that appears in FOLDER with the link LINK beside it
# (renameat2 with RENAME_EXCHANGE) the moment inotify reports it, until STOPFILE
# exists; prints how many swaps were made.  Runs on the Linux side of a Wine prefix.
# Usage: folder_swapper.py FOLDER WATCHED LINK STOPFILE
import ctypes, os, struct, sys, select
libc = ctypes.CDLL(None, use_errno=True)
folder, watched, link, stopfile = sys.argv[1:5]
fd = libc.inotify_init1(os.O_NONBLOCK)
libc.inotify_add_watch(fd, folder.encode(), 0x100)  # IN_CREATE
swaps = 0
while not os.path.exists(stopfile):
    r, _, _ = select.select([fd], [], [], 0.01)
    if not r: continue
    data = os.read(fd, 4096)
    at = 0
    while at < len(data):
        wd, mask, cookie, length = struct.unpack_from("iIII", data, at)
        name = data[at + 16:at + 16 + length].rstrip(b"\0").decode(errors="replace")
        at += 16 + length
        if name == watched:
            if libc.syscall(316, -100, (folder + "/" + watched).encode(), -100, link.encode(), 2) == 0:
                swaps += 1
print(swaps)
