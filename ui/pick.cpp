// Three-coordinate point picking: x and y from the point pick of the
// cursor (getxy), z the default z of new points.
#include "compute/fnsvc.h"
#include "graphics/drawstate.h"
#include "ui/editor.h"

int getxyz(int mode, int* x, int* y, int* z) {
  int px = x ? *x : 0, py = y ? *y : 0;
  int key = getxy(mode < 0 ? 0 : mode, &px, &py);
  if (x) *x = px;
  if (y) *y = py;
  if (z) *z = zvalue;
  return key;
}
