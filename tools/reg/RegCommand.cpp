// The lorveth-reg commands over the registry functions.
#include "tools/reg/RegCommand.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>

#include "platform/registry/Registry.h"
#include "tools/reg/RegFile.h"

namespace regtool {

namespace {

constexpr char kHiveName[] = "HKEY_LOCAL_MACHINE";
constexpr char kNotFound[] =
    "ERROR: The system was unable to find the specified registry key or value.";

struct Options {
  std::string command;
  std::vector<std::string> positional;
  std::optional<std::string> value_name;  // /v NAME, or "" for /ve
  bool all_values = false;                // /va
  std::optional<std::string> type;
  std::optional<std::string> data;
  bool recursive = false;
  bool force = false;
  bool is_volatile = false;
  bool overwrite_file = false;  // /y
};

int UsageFailure(std::ostream& err, const std::string& problem) {
  err << "ERROR: Invalid syntax: " << problem << ".\nType \"lorveth-reg --help\" for usage.\n";
  return kExitUsage;
}

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

bool IsKnownOption(const std::string& name) {
  for (const char* known : {"v", "ve", "va", "t", "d", "s", "f", "y", "volatile"}) {
    if (name == known) return true;
  }
  return false;
}

// "/v" and "-v" are options; an unknown word after "/" is a path such as
// /tmp/x.reg, after "-" a mistake.
bool IsOption(const std::string& arg) {
  if (arg.size() < 2 || (arg[0] != '/' && arg[0] != '-')) return false;
  return arg[0] == '-' || IsKnownOption(Lower(arg.substr(1)));
}

// Reads the arguments after the command; returns a message on a usage error.
std::optional<std::string> ParseOptions(const std::vector<std::string>& args, Options* options) {
  options->command = Lower(args[0]);
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (!IsOption(arg) || arg == "-") {
      options->positional.push_back(arg);
      continue;
    }
    const std::string name = Lower(arg.substr(1));
    const auto operand = [&]() -> std::optional<std::string> {
      if (i + 1 >= args.size()) return std::nullopt;
      return args[++i];
    };
    if (name == "v") {
      if (options->value_name) return "/v given twice or together with /ve";
      auto value = operand();
      if (!value) return "/v needs a value name";
      options->value_name = *value;
    } else if (name == "ve") {
      if (options->value_name) return "/ve given twice or together with /v";
      options->value_name = "";
    } else if (name == "va") {
      options->all_values = true;
    } else if (name == "t") {
      auto value = operand();
      if (!value) return "/t needs a type";
      options->type = *value;
    } else if (name == "d") {
      auto value = operand();
      if (!value) return "/d needs data";
      options->data = *value;
    } else if (name == "s") {
      options->recursive = true;
    } else if (name == "f") {
      options->force = true;
    } else if (name == "y") {
      options->overwrite_file = true;
    } else if (name == "volatile") {
      options->is_volatile = true;
    } else {
      return "unknown option " + arg;
    }
  }
  return std::nullopt;
}

std::string TypeName(DWORD type) {
  switch (type) {
    case REG_NONE:
      return "REG_NONE";
    case REG_SZ:
      return "REG_SZ";
    case REG_EXPAND_SZ:
      return "REG_EXPAND_SZ";
    case REG_BINARY:
      return "REG_BINARY";
    case REG_DWORD:
      return "REG_DWORD";
    case REG_MULTI_SZ:
      return "REG_MULTI_SZ";
    case REG_QWORD:
      return "REG_QWORD";
    default:
      return "REG_UNKNOWN(" + std::to_string(type) + ")";
  }
}

std::string DisplayData(const platform::RegistryKey::Value& value) {
  const std::vector<BYTE>& data = value.data;
  if (value.type == REG_SZ || value.type == REG_EXPAND_SZ || value.type == REG_MULTI_SZ) {
    std::string text(data.begin(), data.end());
    while (!text.empty() && text.back() == '\0') text.pop_back();
    std::string shown;
    for (char c : text) shown += c == '\0' ? std::string("\\0") : std::string(1, c);
    return shown;
  }
  if (value.type == REG_DWORD && data.size() == 4) {
    char number[16];
    std::snprintf(number, sizeof number, "0x%x",
                  static_cast<unsigned>(data[0] | (data[1] << 8) | (data[2] << 16) |
                                        (static_cast<DWORD>(data[3]) << 24)));
    return number;
  }
  std::string hex;
  for (BYTE byte : data) {
    char digits[4];
    std::snprintf(digits, sizeof digits, "%02X", byte);
    hex += digits;
  }
  return hex;
}

std::string FullName(const std::string& key) {
  return key.empty() ? kHiveName : std::string(kHiveName) + "\\" + key;
}

// The key's path in the spelling the store keeps, found by walking down from
// the hive; the path as given if a component is missing.
std::string StoredSpelling(const std::string& key) {
  std::string spelled;
  std::string_view rest = key;
  while (!rest.empty()) {
    const size_t slash = rest.find('\\');
    const std::string part(rest.substr(0, slash));
    std::string match = part;
    if (auto parent = platform::RegistryKey::Open(HKEY_LOCAL_MACHINE, spelled, KEY_READ)) {
      for (const std::string& name : parent->EnumSubKeys()) {
        if (Lower(name) == Lower(part)) match = name;
      }
    }
    spelled += (spelled.empty() ? "" : "\\") + match;
    if (slash == std::string_view::npos) break;
    rest.remove_prefix(slash + 1);
  }
  return spelled;
}

std::string ErrorText(LONG error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_KEY_DELETED:
      return kNotFound;
    case ERROR_ACCESS_DENIED:
      return "ERROR: Access is denied.";
    case ERROR_CHILD_MUST_BE_VOLATILE:
      return "ERROR: Cannot create a stable subkey under a volatile parent key (use /volatile).";
    case ERROR_BADDB:
      return "ERROR: The registry store is corrupt or unreadable (" +
             platform::LastRegistryStoreProblem() + ").";
    case ERROR_TIMEOUT:
      return "ERROR: The registry store stayed locked by another process.";
    default:
      return "ERROR: The registry operation failed with error " + std::to_string(error) + ".";
  }
}

std::optional<platform::RegistryKey> OpenOrReport(const std::string& key, DWORD sam,
                                                  std::ostream& err) {
  LONG error = ERROR_SUCCESS;
  auto opened = platform::RegistryKey::Open(HKEY_LOCAL_MACHINE, key, sam, &error);
  if (!opened) err << ErrorText(error) << "\n";
  return opened;
}

std::optional<std::string> KeyArgument(const Options& options, size_t index, std::ostream& err) {
  if (options.positional.size() <= index) return std::nullopt;
  std::string reason;
  std::optional<std::string> key = KeyBelowHive(options.positional[index], &reason);
  if (!key)
    err << "ERROR: Invalid key name \"" << options.positional[index] << "\": " << reason << ".\n";
  return key;
}

// --- query --------------------------------------------------------------

bool QueryKey(const std::string& path, const Options& options, std::ostream& out, bool* found) {
  auto key = platform::RegistryKey::Open(HKEY_LOCAL_MACHINE, path, KEY_READ);
  if (!key) return false;
  std::vector<platform::RegistryKey::Value> values = key->EnumValues();
  bool header = false;
  for (const auto& value : values) {
    if (options.value_name && Lower(value.name) != Lower(*options.value_name)) continue;
    if (!header) out << "\n" << FullName(path) << "\n";
    header = true;
    *found = true;
    out << "    " << (value.name.empty() ? "(Default)" : value.name) << "    "
        << TypeName(value.type) << "    " << DisplayData(value) << "\n";
  }
  if (!options.value_name && !header) {
    out << "\n" << FullName(path) << "\n";
    *found = true;
  }
  const std::vector<std::string> subkeys = key->EnumSubKeys();
  if (options.recursive) {
    for (const std::string& name : subkeys)
      QueryKey(path.empty() ? name : path + "\\" + name, options, out, found);
  } else if (!options.value_name) {
    if (!subkeys.empty()) out << "\n";
    for (const std::string& name : subkeys)
      out << FullName(path.empty() ? name : path + "\\" + name) << "\n";
  }
  return true;
}

int Query(const Options& options, std::ostream& out, std::ostream& err) {
  if (options.positional.size() != 1) return UsageFailure(err, "query needs exactly one KEY");
  if (options.type || options.data || options.force || options.is_volatile) {
    return UsageFailure(err, "query takes only /v, /ve and /s");
  }
  const std::optional<std::string> key = KeyArgument(options, 0, err);
  if (!key) return kExitUsage;
  if (!OpenOrReport(*key, KEY_READ, err)) return kExitFailure;
  bool found = false;
  std::ostringstream text;
  QueryKey(StoredSpelling(*key), options, text, &found);
  if (!found) {
    err << kNotFound << "\n";
    return kExitFailure;
  }
  out << text.str() << "\n";
  return kExitSuccess;
}

// --- add ----------------------------------------------------------------

std::optional<std::vector<BYTE>> ValueBytes(DWORD type, const std::string& data, std::string* why) {
  std::vector<BYTE> bytes;
  if (type == REG_SZ || type == REG_EXPAND_SZ) {
    bytes.assign(data.begin(), data.end());
    bytes.push_back(0);
  } else if (type == REG_DWORD) {
    DWORD number = 0;
    if (!data.empty()) {
      const bool hex = data.size() > 2 && data[0] == '0' && (data[1] == 'x' || data[1] == 'X');
      const std::string digits = hex ? data.substr(2) : data;
      const unsigned base = hex ? 16 : 10;
      uint64_t parsed = 0;
      bool valid = !digits.empty();
      for (char c : digits) {
        const int digit = c >= '0' && c <= '9'          ? c - '0'
                          : hex && c >= 'a' && c <= 'f' ? c - 'a' + 10
                          : hex && c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                        : -1;
        parsed = parsed * base + static_cast<unsigned>(digit);
        if (digit < 0 || parsed > 0xFFFFFFFFull) {
          valid = false;
          break;
        }
      }
      if (!valid) {
        *why = "REG_DWORD data must be a number from 0 to 4294967295 (decimal or 0x hex)";
        return std::nullopt;
      }
      number = static_cast<DWORD>(parsed);
    }
    bytes = {static_cast<BYTE>(number), static_cast<BYTE>(number >> 8),
             static_cast<BYTE>(number >> 16), static_cast<BYTE>(number >> 24)};
  } else {
    if (data.size() % 2 != 0) {
      *why = "REG_BINARY data must be pairs of hex digits";
      return std::nullopt;
    }
    for (size_t i = 0; i < data.size(); i += 2) {
      const std::string pair = data.substr(i, 2);
      if (pair.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
        *why = "REG_BINARY data must be pairs of hex digits";
        return std::nullopt;
      }
      bytes.push_back(static_cast<BYTE>(std::strtoul(pair.c_str(), nullptr, 16)));
    }
  }
  return bytes;
}

int Add(const Options& options, std::ostream& out, std::ostream& err, const Confirm& confirm) {
  if (options.positional.size() != 1) return UsageFailure(err, "add needs exactly one KEY");
  if (options.recursive || options.all_values)
    return UsageFailure(err, "add does not take /s or /va");
  const std::optional<std::string> key = KeyArgument(options, 0, err);
  if (!key) return kExitUsage;
  if (key->empty()) {
    err << "ERROR: A key below HKEY_LOCAL_MACHINE is needed.\n";
    return kExitUsage;
  }
  DWORD type = REG_SZ;
  if (options.type) {
    const std::string name = Lower(*options.type);
    if (name == "reg_sz") {
      type = REG_SZ;
    } else if (name == "reg_expand_sz") {
      type = REG_EXPAND_SZ;
    } else if (name == "reg_dword") {
      type = REG_DWORD;
    } else if (name == "reg_binary") {
      type = REG_BINARY;
    } else {
      return UsageFailure(err, "unsupported type " + *options.type +
                                   " (REG_SZ, REG_EXPAND_SZ, REG_DWORD or REG_BINARY)");
    }
  }
  const bool sets_value = options.value_name || options.type || options.data;
  std::optional<std::vector<BYTE>> bytes;
  if (sets_value) {
    std::string why;
    bytes = ValueBytes(type, options.data.value_or(""), &why);
    if (!bytes) {
      err << "ERROR: " << why << ".\n";
      return kExitUsage;
    }
  }
  LONG error = ERROR_SUCCESS;
  auto opened = platform::RegistryKey::Create(HKEY_LOCAL_MACHINE, *key, options.is_volatile,
                                              KEY_ALL_ACCESS, &error);
  if (!opened) {
    err << ErrorText(error) << "\n";
    return kExitFailure;
  }
  if (sets_value) {
    const std::string name = options.value_name.value_or("");
    if (!options.force && opened->QueryValue(name) &&
        !confirm("Value " + (name.empty() ? std::string("(Default)") : name) +
                 " exists, overwrite(Yes/No)?")) {
      err << "The operation was cancelled (use /f to overwrite without asking).\n";
      return kExitFailure;
    }
    error = RegSetValueExA(opened->Get(), name.c_str(), 0, type, bytes->data(),
                           static_cast<DWORD>(bytes->size()));
    if (error != ERROR_SUCCESS) {
      err << ErrorText(error) << "\n";
      return kExitFailure;
    }
  }
  out << "The operation completed successfully.\n";
  return kExitSuccess;
}

// --- delete -------------------------------------------------------------

int Delete(const Options& options, std::ostream& out, std::ostream& err, const Confirm& confirm) {
  if (options.positional.size() != 1) return UsageFailure(err, "delete needs exactly one KEY");
  if (options.type || options.data || options.recursive || options.is_volatile) {
    return UsageFailure(err, "delete takes only /v, /ve, /va and /f");
  }
  if (options.all_values && options.value_name) return UsageFailure(err, "/va excludes /v and /ve");
  const std::optional<std::string> key = KeyArgument(options, 0, err);
  if (!key) return kExitUsage;
  auto opened = OpenOrReport(*key, KEY_ALL_ACCESS, err);
  if (!opened) return kExitFailure;
  LONG error = ERROR_SUCCESS;
  const std::string full = FullName(StoredSpelling(*key));
  if (options.value_name || options.all_values) {
    std::vector<std::string> names;
    if (options.all_values) {
      for (const auto& value : opened->EnumValues()) names.push_back(value.name);
    } else {
      if (!opened->QueryValue(*options.value_name)) {
        err << kNotFound << "\n";
        return kExitFailure;
      }
      names.push_back(*options.value_name);
    }
    const std::string what = options.all_values            ? "all values under " + full
                             : options.value_name->empty() ? std::string("the default value")
                                                           : "the registry value " + names[0];
    if (!options.force && !confirm("Delete " + what + " (Yes/No)?")) {
      err << "The operation was cancelled (use /f to delete without asking).\n";
      return kExitFailure;
    }
    for (const std::string& name : names) {
      error = opened->DeleteValue(name);
      if (error != ERROR_SUCCESS && error != ERROR_FILE_NOT_FOUND) {
        err << ErrorText(error) << "\n";
        return kExitFailure;
      }
    }
  } else {
    if (key->empty()) {
      err << "ERROR: HKEY_LOCAL_MACHINE itself cannot be deleted.\n";
      return kExitUsage;
    }
    if (!options.force && !confirm("Permanently delete the registry key " + full + " (Yes/No)?")) {
      err << "The operation was cancelled (use /f to delete without asking).\n";
      return kExitFailure;
    }
    error = RegDeleteTreeA(HKEY_LOCAL_MACHINE, key->c_str());
    if (error != ERROR_SUCCESS) {
      err << ErrorText(error) << "\n";
      return kExitFailure;
    }
  }
  out << "The operation completed successfully.\n";
  return kExitSuccess;
}

// --- import and export --------------------------------------------------

LONG ApplySection(const RegSection& section) {
  if (section.remove) {
    const LONG error = RegDeleteTreeA(HKEY_LOCAL_MACHINE, section.key.c_str());
    return error == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : error;
  }
  if (section.key.empty()) return ERROR_SUCCESS;
  LONG error = ERROR_SUCCESS;
  auto key =
      platform::RegistryKey::Create(HKEY_LOCAL_MACHINE, section.key, false, KEY_ALL_ACCESS, &error);
  // A file knows nothing of volatile keys: below one, new keys are volatile too.
  if (!key && error == ERROR_CHILD_MUST_BE_VOLATILE) {
    key = platform::RegistryKey::Create(HKEY_LOCAL_MACHINE, section.key, true, KEY_ALL_ACCESS,
                                        &error);
  }
  if (!key) return error;
  for (const RegValue& value : section.values) {
    if (value.remove) {
      error = key->DeleteValue(value.name);
      if (error == ERROR_FILE_NOT_FOUND) error = ERROR_SUCCESS;
    } else {
      error = RegSetValueExA(key->Get(), value.name.c_str(), 0, value.type,
                             value.data.empty() ? nullptr : value.data.data(),
                             static_cast<DWORD>(value.data.size()));
    }
    if (error != ERROR_SUCCESS) return error;
  }
  return ERROR_SUCCESS;
}

int Import(const Options& options, std::ostream& out, std::ostream& err) {
  if (options.positional.size() != 1) return UsageFailure(err, "import needs exactly one FILE");
  const std::string& file = options.positional[0];
  std::string bytes;
  if (file == "-") {
    std::ostringstream all;
    all << std::cin.rdbuf();
    bytes = all.str();
  } else {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
      err << "ERROR: Cannot open " << file << ".\n";
      return kExitFailure;
    }
    std::ostringstream all;
    all << in.rdbuf();
    bytes = all.str();
  }
  RegDocument document;
  const ParseResult result = ParseRegText(bytes, &document);
  if (!result.ok) {
    err << "ERROR: " << file << " line " << result.line << ": " << result.message
        << "; nothing was imported.\n";
    return kExitFailure;
  }
  for (const RegSection& section : document.sections) {
    const LONG error = ApplySection(section);
    if (error != ERROR_SUCCESS) {
      err << ErrorText(error) << " (while importing " << FullName(section.key) << ")\n";
      return kExitFailure;
    }
  }
  out << "The operation completed successfully.\n";
  return kExitSuccess;
}

void CollectSections(const std::string& path, RegDocument* document) {
  auto key = platform::RegistryKey::Open(HKEY_LOCAL_MACHINE, path, KEY_READ);
  if (!key) return;
  RegSection section;
  section.key = path;
  for (auto& value : key->EnumValues()) {
    section.values.push_back(RegValue{value.name, value.type, std::move(value.data), false});
  }
  if (!path.empty()) document->sections.push_back(std::move(section));
  for (const std::string& name : key->EnumSubKeys()) {
    CollectSections(path.empty() ? name : path + "\\" + name, document);
  }
}

int Export(const Options& options, std::ostream& out, std::ostream& err, const Confirm& confirm) {
  if (options.positional.size() != 2) return UsageFailure(err, "export needs a KEY and a FILE");
  const std::optional<std::string> key = KeyArgument(options, 0, err);
  if (!key) return kExitUsage;
  if (!OpenOrReport(*key, KEY_READ, err)) return kExitFailure;
  RegDocument document;
  CollectSections(StoredSpelling(*key), &document);
  const std::string text = WriteRegText(document);
  const std::string& file = options.positional[1];
  if (file == "-") {
    out << text;
    return kExitSuccess;
  }
  if (!options.overwrite_file && std::ifstream(file) &&
      !confirm("File " + file + " already exists. Overwrite (Yes/No)?")) {
    err << "The operation was cancelled (use /y to overwrite without asking).\n";
    return kExitFailure;
  }
  std::ofstream stream(file, std::ios::binary | std::ios::trunc);
  stream << text;
  stream.close();
  if (!stream) {
    err << "ERROR: Cannot write " << file << ".\n";
    return kExitFailure;
  }
  out << "The operation completed successfully.\n";
  return kExitSuccess;
}

}  // namespace

std::string RegToolUsage() {
  return "Usage: lorveth-reg COMMAND ...\n"
         "Reads and writes the registry store (HKEY_LOCAL_MACHINE) of the agent and its\n"
         "services: $LORVETH_STATE_DIR/registry.db and, for volatile keys,\n"
         "$LORVETH_RUNTIME_DIR/registry-volatile.db.\n"
         "\n"
         "  query KEY [/v NAME | /ve] [/s]\n"
         "      Shows the values and subkeys of KEY; /v one value, /ve the default\n"
         "      value, /s every key below KEY as well.\n"
         "  add KEY [/v NAME | /ve] [/t TYPE] [/d DATA] [/volatile] [/f]\n"
         "      Creates KEY (volatile with /volatile) and sets a value.  TYPE is REG_SZ\n"
         "      (default), REG_EXPAND_SZ, REG_DWORD (decimal or 0x hex) or REG_BINARY\n"
         "      (hex digit pairs).  /f overwrites an existing value without asking.\n"
         "  delete KEY [/v NAME | /ve | /va] [/f]\n"
         "      Deletes KEY with all its subkeys, or one value, the default value or\n"
         "      all values.  /f deletes without asking.\n"
         "  import FILE\n"
         "      Applies a .reg file (\"-\" reads standard input).\n"
         "  export KEY FILE [/y]\n"
         "      Writes KEY and its subtree as a .reg file (\"-\": standard output);\n"
         "      /y overwrites FILE without asking.\n"
         "\n"
         "KEY may start with HKLM\\ or HKEY_LOCAL_MACHINE\\.  Exit status: 0 success,\n"
         "1 failure (missing key or value, unreadable store or file), 2 bad arguments.\n";
}

int RunRegTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
               const Confirm& confirm) {
  if (args.empty()) {
    err << RegToolUsage();
    return kExitUsage;
  }
  const std::string first = Lower(args[0]);
  if (first == "--help" || first == "-h" || first == "/?" || first == "help") {
    out << RegToolUsage();
    return kExitSuccess;
  }
  Options options;
  if (const std::optional<std::string> problem = ParseOptions(args, &options)) {
    return UsageFailure(err, *problem);
  }
  if (options.command == "query") return Query(options, out, err);
  if (options.command == "add") return Add(options, out, err, confirm);
  if (options.command == "delete") return Delete(options, out, err, confirm);
  if (options.command == "import") return Import(options, out, err);
  if (options.command == "export") return Export(options, out, err, confirm);
  return UsageFailure(err, "unknown command " + args[0]);
}

}  // namespace regtool
