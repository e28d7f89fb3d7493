# Ports for the session on connections that fail, written into port.imp:
# pfree, a port nobody listens on (bound a moment, then freed), and pb, a
# listening socket whose backlog is full, so that a further connect is
# never answered. It ends when the file "stop" appears, or after 30 s.
import os
import signal
import socket
import time

signal.alarm(30)
s = socket.socket()
s.bind(("127.0.0.1", 0))
free = s.getsockname()[1]
s.close()
srv = socket.socket()
srv.bind(("127.0.0.1", 0))
srv.listen(0)
full = srv.getsockname()[1]
fill = []
for i in range(3):
    c = socket.socket()
    c.setblocking(False)
    try:
        c.connect(("127.0.0.1", full))
    except BlockingIOError:
        pass
    fill.append(c)
time.sleep(0.2)
with open("port.tmp", "w") as f:
    f.write("pfree = %d\npb = %d\n" % (free, full))
os.rename("port.tmp", "port.imp")
while not os.path.exists("stop"):
    time.sleep(0.05)
