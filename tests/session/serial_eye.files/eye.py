# An eye tracker: a third of a second after it starts it sends a packet of
# another kind, a sample, and the first 10 bytes of a second sample; a
# tenth of a second later the rest of the second sample and one more
# packet of another kind. Then it is silent.
import os
import struct
import time

def packet(kind, payload):
    return b"VP" + bytes([kind, len(payload)]) + payload

def sample(kind, x, y):
    return packet(kind, struct.pack(">8H", x, y, 12, 0, 40, 41, 0, 0))

other = packet(7, b"\x01\x02")
s1 = sample(6, 5000, 2500)
s2 = sample(10, 2000, 7500)
time.sleep(0.3)
os.write(1, other + s1 + s2[:10])
time.sleep(0.1)
os.write(1, s2[10:] + packet(7, b"\x00" * 6))
while os.read(0, 64):
    pass
