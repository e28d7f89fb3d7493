// Device variables: the device layer's side of a pointer record whose data
// lives in a device (Idx = device number).
#pragma once
#include <cstdint>

#include "core/varbl.h"

// Sets up a device variable on its first preparation; *total gets the items
// of the data, negative when the device cannot be used.
int gdevvb(PtrRec* r, int kind, int32_t* total, int32_t* wsiz, int mode);
// Moves block buffer i between the record and the device: direction 1 reads,
// any other writes. 0, or -1 when nothing could be moved.
int devio(PtrRec* r, int i, int dir);
// Selects a page of an image processor's memory.
int ippage(int dev, int page);
