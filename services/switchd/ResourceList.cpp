// switchctl resources: one row per instance of each builtin measurement.
#include "services/switchd/ResourceList.h"

#include <string>
#include <vector>

#include "services/switchd/Listing.h"

namespace switchd {

namespace {

const char* ArgumentText(BuiltinArgument argument) {
  switch (argument) {
    case BuiltinArgument::kNone:
      return "none";
    case BuiltinArgument::kPath:
      return "path";
    case BuiltinArgument::kOptionalPath:
      return "optional path";
    case BuiltinArgument::kOptionalName:
      return "optional name";
    case BuiltinArgument::kOptionalTcpState:
      return "optional state";
  }
  return "";
}

// Control characters (a process may name itself anything) would break the
// line protocol: shown as '?'.
std::string Printable(std::string text) {
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  }
  return text;
}

struct Listed {
  const BuiltinMeasurement* measurement;
  bool read;  // false for a measurement that needs an argument
  Reading reading;
};

std::vector<Listed> ReadAll(BuiltinSource& source) {
  source.BeginTick();
  std::vector<Listed> listed;
  for (const BuiltinMeasurement& measurement : BuiltinCatalogue()) {
    Listed entry{&measurement, measurement.argument != BuiltinArgument::kPath, {}};
    if (entry.read) {
      source.Read({RequestType::kBuiltin, measurement.name, "", ""},
                  [&entry](Reading reading) { entry.reading = std::move(reading); });
    }
    listed.push_back(std::move(entry));
  }
  return listed;
}

std::string Json(const std::vector<Listed>& listed) {
  std::string text = "[";
  for (const Listed& entry : listed) {
    const BuiltinMeasurement& m = *entry.measurement;
    if (text.size() > 1) text += ",";
    text += "{\"name\":" + JsonString(m.name) +
            ",\"argument\":" + JsonString(ArgumentText(m.argument)) +
            ",\"unit\":" + JsonString(m.unit) + ",\"counter\":" + (m.counter ? "true" : "false") +
            ",\"instances\":" + JsonString(m.instances) +
            ",\"description\":" + JsonString(m.description) + ",\"values\":";
    if (entry.read && entry.reading.ok) {
      std::string values = "[";
      for (const InstanceValue& instance : entry.reading.instances) {
        if (values.size() > 1) values += ",";
        values += "{\"number\":" + std::to_string(instance.number) +
                  ",\"name\":" + JsonString(instance.name) +
                  ",\"value\":" + std::to_string(instance.value) + "}";
      }
      text += values + "]";
    } else {
      text += "null";
    }
    const bool failed = entry.read && !entry.reading.ok;
    text += std::string(",\"error\":") + (failed ? JsonString(entry.reading.error) : "null") + "}";
  }
  return text + "]";
}

std::vector<std::string> Table(const std::vector<Listed>& listed) {
  std::vector<std::vector<std::string>> rows = {
      {"MEASUREMENT", "UNIT", "COUNTER", "INSTANCE", "VALUE"}};
  for (const Listed& entry : listed) {
    const BuiltinMeasurement& m = *entry.measurement;
    const std::string counter = m.counter ? "yes" : "no";
    if (!entry.read) {
      rows.push_back(
          {m.name, m.unit, counter, "-", "(give a path: " + std::string(m.name) + ":/PATH)"});
    } else if (!entry.reading.ok) {
      rows.push_back({m.name, m.unit, counter, "-", "error: " + Printable(entry.reading.error)});
    } else if (entry.reading.instances.empty()) {
      rows.push_back({m.name, m.unit, counter, "-", "-"});
    }
    // The measurement's name on its first instance only, so that each stands out.
    bool first = true;
    for (const InstanceValue& instance : entry.reading.instances) {
      rows.push_back({first ? m.name : "", first ? m.unit : "", first ? counter : "",
                      Printable(instance.name), std::to_string(instance.value)});
      first = false;
    }
  }
  return Columns(rows);
}

}  // namespace

ControlAnswer ListResources(BuiltinSource& source, bool json) {
  const std::vector<Listed> listed = ReadAll(source);
  ControlAnswer answer;
  if (json) {
    answer.lines.push_back(Json(listed));
  } else {
    answer.lines = Table(listed);
  }
  return answer;
}

}  // namespace switchd
