// Dispatching a query to the source of its request type.
#include "services/switchd/Sources.h"

#include <type_traits>

namespace switchd {

Sources::Sources(const EngineSettings& settings) : snmp_(settings) {}

Sources::~Sources() = default;

void Sources::UpdateSettings(const EngineSettings& settings) { snmp_.UpdateSettings(settings); }

template <typename Self>
auto Sources::For(Self* self, RequestType type) {
  using Source = std::conditional_t<std::is_const_v<Self>, const ResourceSource, ResourceSource>;
  switch (type) {
    case RequestType::kBuiltin:
      return static_cast<Source*>(&self->builtin_);
    case RequestType::kRegistry:
      return static_cast<Source*>(&self->registry_);
    case RequestType::kSnmp:
      return static_cast<Source*>(&self->snmp_);
  }
  return static_cast<Source*>(nullptr);
}

bool Sources::Validate(const ResourceQuery& query, std::string* reason) const {
  const ResourceSource* source = For(this, query.type);
  if (source == nullptr) {
    *reason = "this request type cannot be read";
    return false;
  }
  return source->Validate(query, reason);
}

void Sources::Read(const ResourceQuery& query, std::function<void(Reading)> done) {
  ResourceSource* source = For(this, query.type);
  if (source == nullptr) {
    Reading reading;
    reading.error = "this request type cannot be read";
    done(std::move(reading));
    return;
  }
  source->Read(query, std::move(done));
}

void Sources::BeginTick() { builtin_.BeginTick(); }

}  // namespace switchd
