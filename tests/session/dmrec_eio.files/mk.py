# Records whose data lie in a link file, bad.dat, of 10 16-bit items and of
# 700,000 (more than the first piece read), and one of good.dat.
h = 'DMDATA     8192 abcd\n#     Type Wsiz      Address           NX     NY     NZ     NT\n'
h += 'Record    1  16            0           10      1      1      1\n bad.dat\n'
h += 'Record    2  16            0       700000      1      1      1\n bad.dat\n'
h += 'Record    3  16            0           10      1      1      1\n good.dat\n'
b = h.encode()
open('eio.dm', 'wb').write(b + bytes(8192 - len(b)))
open('bad.dat', 'wb').write(bytes(range(256)) * 6000)
open('good.dat', 'wb').write(bytes(range(20)))
