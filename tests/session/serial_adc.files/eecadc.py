# An eecadc box: each request pair (k + 4, k) is answered with the value of
# the channel the pair before asked for (0xEE 0xEE for the first), two
# bytes big-endian with junk in the top nibble. Channel k reads
# 0x123 + 0x111 * k. Every byte received goes to eecadc.log.
import os
log = open("eecadc.log", "a")
prev = None
pend = b""
while True:
    b = os.read(0, 64)
    if not b:
        break
    log.write(" ".join(str(c) for c in b) + "\n")
    log.flush()
    pend += b
    out = b""
    while len(pend) >= 2:
        k = pend[1]
        pend = pend[2:]
        if prev is None:
            out += b"\xee\xee"
        else:
            v = 0x123 + 0x111 * prev
            out += bytes([0xA0 | (v >> 8), v & 0xFF])
        prev = k
    os.write(1, out)
