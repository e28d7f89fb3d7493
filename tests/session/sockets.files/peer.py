# An HTTP peer for the socket session: serves one connection at a time on a
# free local port, which it writes into port.imp as "pn = PORT". The path
# of each request picks its behaviour. It ends on /quit or after 50 s.
import os
import signal
import socket
import threading
import time

signal.alarm(50)
srv = socket.socket()
srv.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
srv.bind(("127.0.0.1", 0))
srv.listen(8)
with open("port.tmp", "w") as f:
    f.write("pn = %d\n" % srv.getsockname()[1])
os.rename("port.tmp", "port.imp")


def request(c):
    # Up to the empty line and the zero byte after it (the client's
    # request), or a blank line ended by CR LF.
    data = b""
    c.settimeout(3)
    while not (data.endswith(b"\n\n\0") or data.endswith(b"\r\n\r\n")):
        b = c.recv(4096)
        if not b:
            break
        data += b
    return data


def reply(c, head, body, pause=0.0, split=None):
    data = head + body
    if split is None:
        c.sendall(data)
    else:
        for part in split:
            c.sendall(data[:part])
            data = data[part:]
            time.sleep(pause)
        c.sendall(data)


def ok(n):
    return b"HTTP/1.0 200 OK\r\nContent-Length: %d\r\n\r\n" % n


def keepsending(c, t0):
    # Sends more bytes after a whole reply (20 s at most) until the client
    # goes; keepsending.txt gets how long that took.
    try:
        while time.monotonic() < t0 + 20:
            c.sendall(b"more bytes\n")
            time.sleep(0.01)
    except OSError:
        pass
    with open("keepsending.txt", "w") as f:
        f.write("%.2f\n" % (time.monotonic() - t0))
    c.close()


held = []      # connections kept open after their reply
pending = None  # a kept connection's name and time, told at the next accept
while True:
    c, _ = srv.accept()
    if pending:
        # How long the client stayed with the open connection: until its
        # next request.
        with open(pending[0] + ".txt", "w") as f:
            f.write("%.2f\n" % (time.monotonic() - pending[1]))
        pending = None
    req = request(c)
    words = req.split(b" ")
    path = words[1].decode() if len(words) > 1 else ""
    if path == "/quit":
        c.close()
        for t in held:
            if isinstance(t, threading.Thread):
                t.join(25)
        break
    if path.startswith("/echo"):
        # The request's bytes, shown as text.
        body = repr(req).encode() + b"\n"
        reply(c, ok(len(body)), body)
    elif path == "/split":
        # The header's end comes over three sends: "\r", "\n\r", "\n".
        body = b"split body\n"
        head = ok(len(body))
        reply(c, head, body, 0.3, [len(head) - 3, 2, 1])
    elif path == "/nolen":
        # No Content-Length: the body is whatever comes until the close.
        c.sendall(b"HTTP/1.0 200 OK\r\nServer: peer\r\n\r\nfirst part\n")
        time.sleep(0.3)
        c.sendall(b"second part\n")
        time.sleep(0.3)
        c.sendall(b"third part\n")
    elif path.startswith("/len"):
        # The length as given after "/len"; 12 bytes of body, then close.
        value = path[4:].replace("_", " ")
        c.sendall(b"HTTP/1.0 200 OK\r\ncontent-LENGTH: " + value.encode() + b"\r\n\r\n0123456789A\n")
    elif path == "/early":
        # Promises 100 bytes, sends 10 and closes.
        c.sendall(ok(100) + b"early byte")
    elif path == "/big":
        # 20000 numbered lines of 30 bytes: 600000 bytes.
        body = b"".join(b"line %06d of the large body\n" % i for i in range(20000))
        reply(c, ok(len(body)), body)
    elif path == "/nul":
        # A zero byte cuts its piece of 132 bytes: "abc" is not printed.
        body = b"x" * 130 + b"\0abc" + b"y" * 10 + b"\n"
        reply(c, ok(len(body)), body)
    elif path in ("/silent", "/hold"):
        # Says nothing until the client goes (20 s at most); silent.txt or
        # hold.txt gets how long that took in seconds.
        t0 = time.monotonic()
        c.settimeout(20)
        try:
            c.recv(1)
        except OSError:
            pass
        with open(path[1:] + ".txt", "w") as f:
            f.write("%.2f\n" % (time.monotonic() - t0))
    elif path in ("/keepopen", "/keepsending"):
        # A whole reply by its Content-Length, then the connection stays
        # open: quiet (keepopen.txt gets the time to the next request), or
        # sending more bytes all the time.
        body = b"whole body\n"
        c.sendall(ok(len(body)) + body)
        if path == "/keepopen":
            held.append(c)
            pending = ("keepopen", time.monotonic())
        else:
            t = threading.Thread(target=keepsending, args=(c, time.monotonic()), daemon=True)
            t.start()
            held.append(t)
        continue
    elif path == "/noheader":
        # Closes within the header.
        c.sendall(b"HTTP/1.0 200 OK\r\nContent-Le")
    elif path == "/stall":
        # Promises 100 bytes, sends 12, then says nothing more until the
        # client goes (20 s at most): the client's wait times out.
        c.sendall(ok(100) + b"stalled part")
        c.settimeout(20)
        try:
            c.recv(1)
        except OSError:
            pass
    elif path == "/hugeheader":
        # A header line that goes on past 1 MiB (the client refuses the
        # reply and goes away while it is being sent).
        try:
            c.sendall(b"HTTP/1.0 200 OK\r\nX-Long: " + b"a" * (1 << 20) + b"\r\n\r\nbody\n")
        except OSError:
            pass
    c.close()
