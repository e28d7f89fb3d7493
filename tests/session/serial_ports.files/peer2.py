# A serial peer on its pseudo-terminal: each command byte asks for a burst.
#   F  1000 bytes: 996 letters, then W X Y Z
#   G  1100 bytes: zeros but 9 at 100, 55 at 700, 66 at 1030, 77 at 1096
#   D  "late", a third of a second later
#   S  nothing (the client times out)
# Every byte received is appended to peer2.log, one number a line.
import os
import time
log = open("peer2.log", "a")
while True:
    b = os.read(0, 64)
    if not b:
        break
    for c in b:
        log.write("%d\n" % c)
        log.flush()
        if c == ord("F"):
            os.write(1, bytes(ord("a") + i % 26 for i in range(996)) + b"WXYZ")
        elif c == ord("G"):
            g = bytearray(1100)
            g[100], g[700], g[1030], g[1096] = 9, 55, 66, 77
            os.write(1, bytes(g))
        elif c == ord("D"):
            time.sleep(0.3)
            os.write(1, b"late")
