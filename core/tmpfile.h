// The temporary files of whole-file writes, on host paths.
//
// A regular file (or a link to one, or a name not there yet) is written to
// a temporary file in its folder, ".NAME.pelix-XXXXXX", and renamed over it
// when complete. While the write runs it holds a lock on its temporary
// file; a later write of the same file removes what a write killed before
// its rename left (an unlocked file of exactly its temporary name's form),
// never another write's file under way. A name too long for that form is
// cut, ".NAM~HASH.pelix-XXXXXX" (or ".HASH~XXXXXX" in a folder whose path
// leaves little room): HASH tells the whole name apart, so leftovers of
// another file are never taken for this one's, and the temporary path
// stays within the longest path a unit takes wherever the folder leaves
// room for it (a target whose own path is longer is written too). Where
// it leaves none, the file is written in place and an old one is kept
// aside under a temporary name until the new one is complete (a failed or
// stopped write puts it back).
//
// A target that is no regular file (a device, a fifo, a socket, a link to
// one, or an open file named through /proc, as /dev/stdout is) is written
// straight: no file is made beside it and nothing is renamed over it.
#pragma once
#include <string>
#include <sys/types.h>

struct TmpWrite {
  std::string dest;      // host path the file ends up at (a link followed)
  std::string temp;      // host path of the temporary file; empty: written at dest
  std::string keep;      // the old file kept aside while dest is written in place
  bool made = false;     // dest is a new file written in place
  bool straight = false;  // dest is no regular file: written straight to it
  bool there = false;    // dest is an existing regular file
  int own = -1;          // this program's descriptor that dest names (/dev/stdout)
  mode_t perm = 0;       // the permissions the written file gets
  int lock = -1;         // descriptor holding the temporary file's lock
  int held = -1;         // written in place: descriptor holding the new file's lock
};

// Aims a write at host path `host`: follows links (a dangling link makes
// the file it names) and decides between a straight write and one through
// a temporary file. 0, or the errno of the failure (EISDIR: a folder).
// Standard output is flushed before a straight write, which may reach it.
int tmpaim(const std::string& host, TmpWrite* t);
// Makes the locked temporary file of an aimed write (nothing for a
// straight one, nor where the folder's path leaves no room for a temporary
// name: that file is written in place, an old one kept aside in `keep`),
// after removing the leftovers of earlier writes of the file. 0, or the
// errno of the failure.
int tmpmake(TmpWrite* t);
// Ends the write: with ok the temporary file takes the name; otherwise it
// is removed. 0 when the name now holds the new file, -1 when ok was false,
// else the errno of the failed rename.
int tmpend(TmpWrite* t, bool ok);
// Opens the file an aimed write goes to for writing: its temporary file,
// else its target (created, or emptied when it is a regular file; this
// program's own descriptor named through /proc is taken where it stands).
// The descriptor, or -1 with errno set.
int tmpfd(const TmpWrite& t);
// This program's descriptor that host path `host` names through /proc
// links (/dev/stdout, /dev/fd/N), or -1.
int tmpown(const std::string& host);
// Removes the temporary files of every write under way: the end of the
// program by time-out or signal drops them as a Ctrl-C does. Makes
// async-signal-safe calls only.
void tmpdrop();
// The temporary name's prefix (before its six unique characters) for a file
// `base` in a folder whose path has dirlen characters, with at most `limit`
// characters in the whole path; empty when no temporary name fits.
std::string tmpprefix(size_t dirlen, const std::string& base, size_t limit);
