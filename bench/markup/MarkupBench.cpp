// Markup document against pugixml on the same inputs in the same run: parse
// throughput (configuration tables of Rule records, deep nesting, many
// attributes), reading every record's attributes, appending and removing
// 10,000 children.  After the table of timings it prints our throughput as a
// ratio of pugixml's for each pair.
#include <benchmark/benchmark.h>

#include <pugixml.hpp>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "markup/MarkupDocument.h"

namespace {

// A configuration table of Rule records of about `bytes` characters.
std::string RuleTable(size_t bytes) {
  std::string text = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<Rules Version=\"4\">\r\n";
  static const char* kResources[] = {"cpu", "memory", "disk", "load", "process"};
  static const char* kOperators[] = {"greater", "less", "equal"};
  for (int i = 0; text.size() < bytes; ++i) {
    const char* resource = kResources[i % 5];
    text += "<Rule Name=\"" + std::string(resource) + "-" + std::to_string(i) + "\">";
    text += "<Description>Watch " + std::string(resource) + " &amp; raise event " +
            std::to_string(i % 97) + "</Description>";
    text += "<Interval>" + std::to_string(30 + i % 5 * 30) + "</Interval>";
    text += "<Resource Name=\"" + std::string(resource) + "\"/>";
    text += "<Threshold Type=\"absolute\" Operator=\"" + std::string(kOperators[i % 3]) +
            "\" Value=\"" + std::to_string(i % 100) + "\"/>";
    text += "<Event Name=\"high\" Control=\"continuous\"/></Rule>\r\n";
  }
  return text + "</Rules>\r\n";
}

std::string DeepNesting(int depth) {
  std::string text;
  for (int i = 0; i < depth; ++i) text += "<level>";
  for (int i = 0; i < depth; ++i) text += "</level>";
  return text;
}

std::string ManyAttributes(int elements, int attributes) {
  std::string text = "<Table>\r\n";
  for (int e = 0; e < elements; ++e) {
    text += "<Row";
    for (int a = 0; a < attributes; ++a) {
      text += " attribute" + std::to_string(a) + "=\"value " + std::to_string(e * a) + "\"";
    }
    text += "/>\r\n";
  }
  return text + "</Table>\r\n";
}

const std::string& Input(const std::string& which) {
  static std::map<std::string, std::string> inputs = {
      {"rules-1MB", RuleTable(1 << 20)},
      {"rules-20MB", RuleTable(20 << 20)},
      {"deep-100k", DeepNesting(100000)},
      {"attributes-2000x50", ManyAttributes(2000, 50)},
  };
  return inputs.at(which);
}

void ParseOurs(benchmark::State& state, const std::string& which) {
  const std::string& text = Input(which);
  for (auto _ : state) {
    MarkupDocument doc(text);
    benchmark::DoNotOptimize(doc.CheckWellFormed());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void ParsePugi(benchmark::State& state, const std::string& which) {
  const std::string& text = Input(which);
  for (auto _ : state) {
    pugi::xml_document doc;
    benchmark::DoNotOptimize(doc.load_buffer(text.data(), text.size()).status);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void ReadAttributesOurs(benchmark::State& state) {
  MarkupDocument doc(Input("rules-1MB"));
  for (auto _ : state) {
    size_t total = 0;
    doc.ResetPosition();
    doc.NextElement("Rules");
    doc.EnterElement();
    while (doc.NextElement("Rule")) {
      total += doc.ElementAttribute("Name").size();
      while (doc.NextChildElement()) {
        total += doc.ChildElementAttribute("Name").size();
        total += doc.ChildElementAttribute("Type").size();
        total += doc.ChildElementAttribute("Operator").size();
        total += doc.ChildElementAttribute("Value").size();
        total += doc.ChildElementAttribute("Control").size();
      }
    }
    benchmark::DoNotOptimize(total);
  }
}

void ReadAttributesPugi(benchmark::State& state) {
  pugi::xml_document doc;
  doc.load_buffer(Input("rules-1MB").data(), Input("rules-1MB").size());
  for (auto _ : state) {
    size_t total = 0;
    for (pugi::xml_node rule : doc.child("Rules").children("Rule")) {
      total += std::strlen(rule.attribute("Name").value());
      for (pugi::xml_node child : rule.children()) {
        total += std::strlen(child.attribute("Name").value());
        total += std::strlen(child.attribute("Type").value());
        total += std::strlen(child.attribute("Operator").value());
        total += std::strlen(child.attribute("Value").value());
        total += std::strlen(child.attribute("Control").value());
      }
    }
    benchmark::DoNotOptimize(total);
  }
}

constexpr int kChildren = 10000;

void AppendOurs(benchmark::State& state) {
  for (auto _ : state) {
    MarkupDocument doc("<Rules/>");
    doc.NextElement();
    for (int i = 0; i < kChildren; ++i) {
      doc.AppendChildElement("Rule");
      doc.SetChildIntAttribute("Name", i);
    }
    benchmark::DoNotOptimize(doc.DocumentText().size());
  }
}

void AppendPugi(benchmark::State& state) {
  for (auto _ : state) {
    pugi::xml_document doc;
    pugi::xml_node root = doc.append_child("Rules");
    for (int i = 0; i < kChildren; ++i) root.append_child("Rule").append_attribute("Name") = i;
    benchmark::DoNotOptimize(root.first_child());
  }
}

std::string ChildrenText() {
  std::string text = "<Rules>\r\n";
  for (int i = 0; i < kChildren; ++i) text += "<Rule Name=\"" + std::to_string(i) + "\"/>\r\n";
  return text + "</Rules>\r\n";
}

// Removes every child, the last first (no records behind the cut) or the
// first first (every remaining record shifts at each removal).
void RemoveOurs(benchmark::State& state, bool last_first) {
  const std::string text = ChildrenText();
  for (auto _ : state) {
    state.PauseTiming();
    MarkupDocument doc(text);
    doc.NextElement();
    doc.EnterElement();
    if (last_first) {
      while (doc.NextElement()) {
      }
    }
    state.ResumeTiming();
    if (last_first) {
      while (doc.TagName().size() != 0 && doc.RemoveElement()) {
      }
    } else {
      while (doc.NextElement() && doc.RemoveElement()) {
      }
    }
    benchmark::DoNotOptimize(doc.DocumentText().size());
  }
}

void RemovePugi(benchmark::State& state, bool last_first) {
  const std::string text = ChildrenText();
  for (auto _ : state) {
    state.PauseTiming();
    pugi::xml_document doc;
    doc.load_buffer(text.data(), text.size());
    pugi::xml_node root = doc.child("Rules");
    state.ResumeTiming();
    for (;;) {
      pugi::xml_node victim = last_first ? root.last_child() : root.first_child();
      if (!victim) break;
      root.remove_child(victim);
    }
    benchmark::DoNotOptimize(root.first_child());
  }
}

// Keeps each run's processor time per iteration (steadier than wall time on a
// shared machine) so that pairs can be compared at the end.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      // With --benchmark_repetitions the median stands for the pair.
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name != "median") continue;
      times_[run.run_name.str()] = run.GetAdjustedCPUTime();
    }
    ConsoleReporter::ReportRuns(runs);
  }
  void PrintRatios() const {
    std::printf("\nOur throughput as a ratio of pugixml's (higher is better):\n");
    for (const auto& [name, ours] : times_) {
      const std::string suffix = "/ours";
      if (name.size() < suffix.size() || name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0) continue;
      const std::string base = name.substr(0, name.size() - suffix.size());
      const auto pugi = times_.find(base + "/pugixml");
      if (pugi == times_.end() || ours <= 0) continue;
      std::printf("  %-40s %6.2f\n", base.c_str(), pugi->second / ours);
    }
  }

 private:
  std::map<std::string, double> times_;
};

}  // namespace

int main(int argc, char** argv) {
  for (const char* which : {"rules-1MB", "rules-20MB", "deep-100k", "attributes-2000x50"}) {
    const std::string input(which);
    benchmark::RegisterBenchmark(("Parse/" + input + "/ours").c_str(),
                                 [input](benchmark::State& s) { ParseOurs(s, input); })
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("Parse/" + input + "/pugixml").c_str(),
                                 [input](benchmark::State& s) { ParsePugi(s, input); })
        ->Unit(benchmark::kMillisecond);
  }
  benchmark::RegisterBenchmark("ReadAttributes/rules-1MB/ours", ReadAttributesOurs)
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("ReadAttributes/rules-1MB/pugixml", ReadAttributesPugi)
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("Append10000/ours", AppendOurs)->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("Append10000/pugixml", AppendPugi)->Unit(benchmark::kMillisecond);
  for (const bool last_first : {true, false}) {
    const std::string name = last_first ? "Remove10000/last-first" : "Remove10000/first-first";
    benchmark::RegisterBenchmark((name + "/ours").c_str(),
                                 [last_first](benchmark::State& s) { RemoveOurs(s, last_first); })
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark((name + "/pugixml").c_str(),
                                 [last_first](benchmark::State& s) { RemovePugi(s, last_first); })
        ->Unit(benchmark::kMillisecond);
  }
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintRatios();
  benchmark::Shutdown();
  return 0;
}
