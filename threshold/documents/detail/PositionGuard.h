// Keeps a caller's navigation position across a document routine: saves it
// (under the empty name), resets, and restores it on scope exit.  A position
// whose element the routine removed cannot come back; the document is then
// left at the reset position.  Guards must not nest on one document, since
// they share the one saved entry.
#pragma once

#include "markup/MarkupDocument.h"

namespace records::detail {

class PositionGuard {
 public:
  explicit PositionGuard(MarkupDocument& doc) : doc_(doc) {
    doc_.SavePosition();
    doc_.ResetPosition();
  }
  ~PositionGuard() {
    if (!doc_.RestorePosition()) doc_.ResetPosition();
  }
  PositionGuard(const PositionGuard&) = delete;
  PositionGuard& operator=(const PositionGuard&) = delete;

 private:
  MarkupDocument& doc_;
};

}  // namespace records::detail
