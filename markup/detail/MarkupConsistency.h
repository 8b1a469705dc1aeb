// A structural check of a MarkupDocument's record table against its text, for
// tests and fuzz targets: every live record lies inside the text and inside
// its parent, links agree in both directions, and the free list holds exactly
// the records that are not in the tree.
#pragma once

#include <string>

class MarkupDocument;

namespace markup::detail {

// Returns "" when the document is consistent, else a description of the first
// fault found.
std::string CheckConsistency(const MarkupDocument& document);

}  // namespace markup::detail
