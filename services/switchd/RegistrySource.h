// The registry resources: a number kept as a value in the registry store
// (HKEY_LOCAL_MACHINE).  The request is the key path and the value name
// joined by a backslash, "SOFTWARE\Debug\Lorveth_Agent\FileDebugLevel"; the
// value is a REG_DWORD, a REG_QWORD or a decimal REG_SZ.  The one instance is
// named by the value name; while the key or value does not exist there is no
// instance.
//
//   RegistrySource source;
//   source.Read({RequestType::kRegistry, "SOFTWARE\\Debug\\Lorveth_Agent\\FileDebugLevel", "", ""},
//               [](Reading reading) { ... });
#pragma once

#include <string>
#include <string_view>

#include "services/switchd/Monitoring.h"

namespace switchd {

// Splits a request into key path and value name (a leading "HKLM\" or
// "HKEY_LOCAL_MACHINE\" is dropped); false with a reason when either is empty.
bool SplitRegistryRequest(std::string_view request, std::string* key, std::string* value,
                          std::string* reason);

class RegistrySource final : public ResourceSource {
 public:
  bool Validate(const ResourceQuery& query, std::string* reason) const override;
  // Reads at once on the calling thread: `done` runs before Read returns.
  void Read(const ResourceQuery& query, std::function<void(Reading)> done) override;
};

}  // namespace switchd
