#include "../control/VendorComment.h"

void VendorComment::cmdAdd_Click() {}
