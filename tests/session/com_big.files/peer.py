# Sends 140,000 bytes at once (byte i is (7 i + 3) mod 251 + 1), then
# waits for the program to close the port.
import os
import time
data = bytes((i * 7 + 3) % 251 + 1 for i in range(140000))
view = memoryview(data)
while view:
    view = view[os.write(1, view):]
time.sleep(60)
