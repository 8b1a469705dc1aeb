// The builtin catalogue with this machine's current values, as switchctl
// resources shows it: plain columns for people, or one line of JSON.
//
//   BuiltinSource source;
//   ControlAnswer answer = ListResources(source, /*json=*/false);
#pragma once

#include "services/switchd/BuiltinSource.h"
#include "services/switchd/ControlChannel.h"

namespace switchd {

// Starts a tick of the source and reads every measurement that needs no
// argument (those that take a path are listed without a value).
ControlAnswer ListResources(BuiltinSource& source, bool json);

}  // namespace switchd
