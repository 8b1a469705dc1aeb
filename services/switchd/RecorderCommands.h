// The control commands that show what the report recorder keeps:
//
//   reports                  one line per report: records, failed reads, state, last value
//   reports REPORT           that report in detail, one "key value" line each
//   records REPORT [--from N] [--since TIME] [--last N] [--csv]
//
// Each takes the command's words (the command itself first) and answers as
// the control channel does; a null recorder answers that none is running.
#pragma once

#include <string>
#include <vector>

#include "services/switchd/ControlChannel.h"
#include "services/switchd/Monitoring.h"
#include "services/switchd/Recorder.h"

namespace switchd {

ControlAnswer ReportsCommand(const Recorder* recorder, const std::vector<std::string>& words);
ControlAnswer RecordsCommand(const Recorder* recorder, const Clock& clock,
                             const std::vector<std::string>& words);
// The recorder's line of `switchctl status`.
std::string RecorderStatusLine(const Recorder& recorder);

}  // namespace switchd
