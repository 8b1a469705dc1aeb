// The seven configuration tables of the threshold module: their codes, files
// and tags, and the atomic file write through which every change reaches the
// data directory.
//
//   const TableInfo* rules = FindTable(0x311);          // Rules.xml, <Rules>, <Rule>
//   std::string error;
//   if (!WriteFileAtomically(dir, rules->file, text, &error)) ... nothing changed ...
#pragma once

#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "platform/WinTypes.h"

namespace switchd {

struct TableInfo {
  DWORD code;                      // the OE that names the table in commands and events
  std::string_view file;           // file name in the data directory
  std::string_view collection;     // root element of the table document
  std::string_view record;         // tag of its records
  std::string_view member;         // sets only: tag of a member; empty for plain tables
  DWORD member_table;              // sets only: the table the members name
};

// The seven tables, in table-code order.
std::span<const TableInfo> Tables();
// By code; nullptr for any other value.
const TableInfo* FindTable(DWORD code);
// By code ("0x311", "785"), collection tag ("Rules") or file name ("Rules.xml"),
// compared without regard to case; nullptr when nothing matches.
const TableInfo* FindTableByName(std::string_view name);

// The "Modified" text of a time: month/day/year hour:minute:second in local
// time, as in "10/20/2006 8:56:53".
std::string FormatModified(int64_t seconds);

// Writes `content` as dir/name so that a reader sees either the old file or the
// new one, never a mixture, even if the process dies half-way: a temporary file
// beside it is written and synced, renamed over the old one, and the directory
// synced.  False with a reason (the old file untouched) on any failure.
bool WriteFileAtomically(const std::string& dir, std::string_view name, std::string_view content,
                         std::string* error);

// Test seam: called between the sync of the temporary file and the rename.
// A test process ends itself here to show what a crash leaves behind.
void SetBeforeRenameHook(std::function<void()> hook);

// Removes temporary files that an interrupted write left in the directory;
// returns how many were removed.
int RemoveStaleTemporaries(const std::string& dir);

// Reads a whole file; false when it cannot be opened (*missing tells whether
// it does not exist).
bool ReadWholeFile(const std::string& path, std::string* content, bool* missing);

}  // namespace switchd
