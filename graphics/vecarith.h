// Vector arithmetic on the current operand table: = (115), + (116) and
// - (117) point by point on the drawable vector records; any other code
// gives error 116.
#pragma once

int dovecs(int code, int count);
