#include "../control/VendorComment.h"

std::string VendorComment::URLEncode(const std::string& text) { return text; }

void VendorComment::PostSQL(std::string) {}
