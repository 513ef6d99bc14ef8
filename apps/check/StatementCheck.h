#pragma once

#include "LoadCheck.h"
#include "PageClient.h"
#include "Progress.h"
#include "Report.h"

#include <string>

// The statements, on a scratch vendor that holds no comments: the insert batch, update and
// delete exactly as the control sends them, each followed by a reload that must show its
// effect (two comments, so that a delete shows whether the keys stay; the longest comment);
// then inserts from several clients at once, which must get keys of their own; then
// statements the page must refuse with a text. Whatever happens, the scratch vendor is left
// without comments again.
namespace vccheck {

void checkStatements(const LoadRequest& scratch, const PageLimits& limits, Report& report,
                     Progress& progress);

} // namespace vccheck
