#include "../control/VendorComment.h"

void VendorComment::Inet1_StateChanged(int) {}
