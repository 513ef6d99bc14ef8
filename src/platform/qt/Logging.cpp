#include "Logging.h"

namespace tavik::platform::qt {

Q_LOGGING_CATEGORY(lcLoad, "tavik.vendorcomment.load")
Q_LOGGING_CATEGORY(lcStatement, "tavik.vendorcomment.statement")
Q_LOGGING_CATEGORY(lcWidget, "tavik.vendorcomment.widget")

} // namespace tavik::platform::qt
