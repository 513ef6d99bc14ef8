#include "../control/VendorComment.h"

void VendorComment::cmdDelete_Click() {}
