#include "../control/VendorComment.h"

void VendorComment::cmdEdit_Click() {}

void VendorComment::lstComments_DblClick() {}
