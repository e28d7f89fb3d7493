# A geadc box: a packet every 2 ms, six little-endian words: a header,
# channels 1000 2000 3000 4000, and the sum of the first ten bytes. With
# the argument "bad" it streams bytes of 1 instead: no packet checks out.
import os
import struct
import sys
import time
bad = len(sys.argv) > 1 and sys.argv[1] == "bad"
while True:
    if bad:
        pkt = b"\x01" * 12
    else:
        body = struct.pack("<5H", 0x5AA5, 1000, 2000, 3000, 4000)
        pkt = body + struct.pack("<H", sum(body) & 0xFFFF)
    try:
        os.write(1, pkt)
    except OSError:
        break
    time.sleep(0.002)
