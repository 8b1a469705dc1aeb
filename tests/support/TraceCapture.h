// Collects the trace lines written while it lives.
#pragma once

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "trace/FileDebug.h"

namespace test_support {

class TraceCapture {
 public:
  struct Line {
    DWORD level;
    std::string text;
  };

  TraceCapture() {
    GetTrace().SetCapture([this](DWORD level, const std::string& text) {
      std::lock_guard lock(mutex_);
      lines_.push_back({level, text});
    });
  }
  ~TraceCapture() { GetTrace().SetCapture(nullptr); }
  TraceCapture(const TraceCapture&) = delete;
  TraceCapture& operator=(const TraceCapture&) = delete;

  std::vector<Line> Lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
  }
  // Lines equal to the text (any level).
  int Count(const std::string& text) const {
    const auto lines = Lines();
    return static_cast<int>(std::count_if(lines.begin(), lines.end(),
                                          [&](const Line& line) { return line.text == text; }));
  }
  bool Contains(const std::string& text) const { return Count(text) > 0; }
  // The level of the first line equal to the text, 0 if there is none.
  DWORD LevelOf(const std::string& text) const {
    for (const Line& line : Lines()) {
      if (line.text == text) return line.level;
    }
    return 0;
  }
  void Clear() {
    std::lock_guard lock(mutex_);
    lines_.clear();
  }

 private:
  mutable std::mutex mutex_;
  std::vector<Line> lines_;
};

}  // namespace test_support
