// Readings of resource sources as text, and a read that waits for its answer
// (sources may answer on another thread) within a generous deadline.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <string>

#include "services/switchd/Monitoring.h"

namespace switchd_test {

// "name#number=value ..." with "(counter)" at the end for counters, or
// "failed: <reason>".
inline std::string Describe(const switchd::Reading& reading) {
  if (!reading.ok) return "failed: " + reading.error;
  std::string text;
  for (const auto& instance : reading.instances) {
    text += instance.name + "#" + std::to_string(instance.number) + "=" +
            std::to_string(instance.value) + " ";
  }
  if (reading.counter) text += "(counter)";
  return text;
}

inline switchd::Reading ReadNow(switchd::ResourceSource& source, switchd::ResourceQuery query) {
  auto answer = std::make_shared<std::promise<switchd::Reading>>();
  std::future<switchd::Reading> reading = answer->get_future();
  source.Read(query, [answer](switchd::Reading result) { answer->set_value(std::move(result)); });
  if (reading.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
    ADD_FAILURE() << "no answer to " << query.request;
    return {};
  }
  return reading.get();
}

inline switchd::Reading ReadNow(switchd::ResourceSource& source, switchd::RequestType type,
                                const std::string& request) {
  return ReadNow(source, switchd::ResourceQuery{type, request, "", ""});
}

}  // namespace switchd_test
