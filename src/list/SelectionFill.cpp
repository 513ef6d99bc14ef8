#include "../control/VendorComment.h"

void VendorComment::lstComments_Click() {}

void VendorComment::lstComments_KeyUp(int, int) {}

void VendorComment::lstComments_ColumnClick(int) {}
