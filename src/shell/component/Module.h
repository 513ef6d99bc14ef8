#pragma once

// The library's own bookkeeping: what keeps it loaded, and where its objects may be used.

#include "TavikVendorComment.h"

namespace tavik::shell {

// Live objects, outstanding class factory references and server locks.
void lockModule();
void unlockModule();
long moduleLocks();

// S_OK on the thread of the host's QApplication; CO_E_NOTINITIALIZED when there is no
// QApplication; RPC_E_WRONG_THREAD on any other thread.
HRESULT checkApartment();

// The class factory of VendorComment; it lives as long as the library.
IClassFactory& vendorCommentFactory();

} // namespace tavik::shell
