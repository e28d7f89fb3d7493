# A response box: once it has its two set-up bytes it reports the buttons
# 0x35, a tenth of a second later. Every byte received goes to srbox.log.
import os
import time
log = open("srbox.log", "a")
got = b""
while len(got) < 2:
    b = os.read(0, 64)
    if not b:
        raise SystemExit
    got += b
log.write(" ".join(str(c) for c in got) + "\n")
log.flush()
time.sleep(0.1)
os.write(1, b"\x35")
while os.read(0, 64):
    pass
