#pragma once

#include "store/CommentStore.h"

#include <string>

namespace vcserver {

// The load document: root VendorComments; LOC and TYP entries (Code, Name); one GRID per
// comment with VendorID, CommentSequence, Type, TypeName, Location, LocationName, Effective,
// Expires and Comment, dates as M/d/yyyy. UTF-8, indented.
std::string loadDocument(const VendorComments& data);

} // namespace vcserver
