// The resource source that the rule engine and the report recorder hold: it
// sends each query to the builtin, snmp or registry source by its request
// type.  Created from the engine settings; a reload hands it the new ones.
//
//   Sources sources(ReadEngineSettings());
//   sources.BeginTick();
//   sources.Read(query, [](Reading reading) { ... });
//   ...
//   sources.UpdateSettings(ReadEngineSettings());   // after a reload
#pragma once

#include <memory>
#include <string>

#include "services/switchd/BuiltinSource.h"
#include "services/switchd/EngineSettings.h"
#include "services/switchd/Monitoring.h"
#include "services/switchd/RegistrySource.h"
#include "services/switchd/SnmpSource.h"

namespace switchd {

class Sources final : public ResourceSource {
 public:
  explicit Sources(const EngineSettings& settings);
  ~Sources() override;
  Sources(const Sources&) = delete;
  Sources& operator=(const Sources&) = delete;

  // Takes new settings for reads started from now on.  Safe from any thread.
  void UpdateSettings(const EngineSettings& settings);

  bool Validate(const ResourceQuery& query, std::string* reason) const override;
  void Read(const ResourceQuery& query, std::function<void(Reading)> done) override;
  void BeginTick() override;

  BuiltinSource& Builtin() { return builtin_; }

 private:
  // The source of a request type (const or not as the caller); null for none.
  template <typename Self>
  static auto For(Self* self, RequestType type);

  BuiltinSource builtin_;
  RegistrySource registry_;
  SnmpSource snmp_;
};

}  // namespace switchd
