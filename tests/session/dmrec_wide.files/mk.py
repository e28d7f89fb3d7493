# A DM file whose record lines hold numbers past the 64-bit range: an
# address, a width, and a record in range for comparison.
def dm(name, lines, data=b''):
    h = 'DMDATA     8192 abcd\n#     Type Wsiz      Address           NX     NY     NZ     NT\n'
    b = (h + '\n'.join(lines) + '\n').encode()
    open(name, 'wb').write(b + bytes(8192 - len(b)) + data)

dm('wide.dm', ['Record    1  16 9223372036854775808 10',
               'Record    2  16 8192 99999999999999999999',
               'Record    3  16 8192 10 1 1 18446744073709551616',
               'Record    4  16 8192 10'], bytes(range(20)))
