# The other end of port 1: stops the program's output with 0x13 (XOFF),
# says "go", checks that nothing arrives for a second, restarts the
# output with 0x11 (XON) and reports what it saw in 11 bytes.
import os, select, time


def read_for(secs, want=None):
    got = b""
    end = time.monotonic() + secs
    while want is None or len(got) < want:
        left = end - time.monotonic()
        if left <= 0:
            break
        r, _, _ = select.select([0], [], [], left)
        if r:
            b = os.read(0, 100)
            if not b:
                break
            got += b
    return got


os.write(1, b"\x13go")
held = read_for(1.0)
os.write(1, b"\x11")
later = read_for(10.0, 3)
os.write(1, (b"stopped" if held == b"" else b"flowed ") + (b" abc" if later == b"abc" else b" ???"))
time.sleep(30)
