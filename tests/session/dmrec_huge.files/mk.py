# DM files whose records promise more than any file holds, one whose record
# lies in a link "file" that is a folder, and one whose header's last line
# has no line end.
import os

def dm(name, lines, data=b'', end=True):
    h = 'DMDATA     8192 abcd\n#     Type Wsiz      Address           NX     NY     NZ     NT\n'
    h += '\n'.join(lines) + ('\n' if end else '')
    b = h.encode()
    open(name, 'wb').write(b + bytes(8192 - len(b)) + data)

M = 2**63 - 1
dm('big.dm', ['Record    1  16 %d 30' % M,
              'Record    2  16 %d %d' % (M, 2**62),
              'Record    3  16 8192 4294967296 4294967296 4294967296 4294967296',
              'Record    4 160 100 %d %d %d %d' % (M, M, M, M),
              'Record    5  16 8192 11',
              'Record    6  16 8192 10'], bytes(range(20)))
dm('lk.dm', ['Record    1  16            0           10      1      1      1 lkdir'])
os.mkdir('lkdir')
dm('nl.dm', ['Record    1  16         8192           10      1      1      1'], bytes(range(20)), end=False)
