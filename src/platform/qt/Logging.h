#pragma once

#include <QLoggingCategory>

// Where the library's warnings go, so that a host filters them with QT_LOGGING_RULES
// ("tavik.vendorcomment.*.warning=false").
namespace tavik::platform::qt {

Q_DECLARE_LOGGING_CATEGORY(lcLoad)      // tavik.vendorcomment.load: the load document
Q_DECLARE_LOGGING_CATEGORY(lcStatement) // tavik.vendorcomment.statement: posted statements
Q_DECLARE_LOGGING_CATEGORY(lcWidget)    // tavik.vendorcomment.widget: the widget and its boxes

} // namespace tavik::platform::qt
