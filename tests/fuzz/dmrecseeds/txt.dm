DMDATA
# notes written by hand
Record 1 0 -1 0
text = first note
record 2 0 -1 0
  Text: a <b> & "c" ; d
RECORD 3 0 8192
