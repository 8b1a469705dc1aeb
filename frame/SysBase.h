// Registry roots, published parameters and status of an extension agent.
//
// CRegistryRootSet finds the common root (through a fixed UUID key, falling back
// to SOFTWARE\Quorvath) and the setup directories below it; CSysBase writes the
// agent status, "AgentStatus", "AgentLastError", "AgentPurpose" and
// "InvTableIndex", and resolves data-file paths stored under the agent's "FILE" key.
#pragma once

#include <optional>
#include <string>

#include "platform/WinTypes.h"

// The key under HKEY_LOCAL_MACHINE whose value "Korvell SNMP Agents" names the
// common root.  The GUID is ours; keep it only here.
inline constexpr const char kCommonRootUuidKey[] =
    "SYSTEM\\CurrentControlSet\\Control\\UUID\\{6F1C2A3E-5B7D-4E21-9A0C-3D8E4B7F1A52}";
inline constexpr const char kCommonRootValue[] = "Korvell SNMP Agents";
inline constexpr const char kDefaultCommonRoot[] = "SOFTWARE\\Quorvath";

// Reads a string value of a key under HKEY_LOCAL_MACHINE (64-bit view, expandable
// strings expanded); "" when the key or value is missing.
std::string ReadRegistryString(const std::string& key, const char* value);
std::optional<std::string> ReadRegistryValue(const std::string& key, const char* value);

class CRegistryRootSet {
 public:
  CRegistryRootSet();

  const std::string& CommonRoot() const { return common_root_; }
  const std::string& FilesKey() const { return files_key_; }
  const std::string& ParametersKey() const { return parameters_key_; }
  const std::string& SetupKey() const { return setup_key_; }
  const std::string& FileRoot() const { return file_root_; }
  const std::string& DataRoot() const { return data_root_; }
  std::string AgentKey(const char* module_name) const;

 private:
  std::string common_root_;
  std::string files_key_;
  std::string parameters_key_;
  std::string setup_key_;
  std::string file_root_;
  std::string data_root_;
};

class CSysBase {
 public:
  CSysBase() = default;
  virtual ~CSysBase() = default;
  CSysBase(const CSysBase&) = delete;
  CSysBase& operator=(const CSysBase&) = delete;

  // Each returns true if the value was written.  Keys are created when missing:
  // "#Status" and "VolatileParameters" volatile, "Parameters" persistent.
  bool SetAgentStatus(DWORD code);
  bool SetAgentStatusValue(DWORD value);
  bool SetAgentLastError(const char* text);
  bool SetAgentPurpose(DWORD purpose);
  bool SetInvTableIndex(const char* text);
  // Deletes "VolatileParameters" below the agent's "Parameters" key with its subkeys.
  bool DeleteVolatileParameters();

  // Resolves the path stored under <common root>\<module>\FILE, value `value_name`;
  // relative paths are joined to the data root.  module_name null: the own module.
  bool GetAgentRegFilePath(const char* value_name, char* buffer, DWORD size,
                           const char* module_name = nullptr);

  const char* CommonRoot() const { return common_root_; }
  const char* AgentRoot() const { return agent_root_; }
  const char* DataRoot() const { return data_root_; }

 protected:
  // Name under which this agent's status is written; set by the identity step.
  virtual const char* StatusName() const = 0;
  void SetRoots(const std::string& common_root, const std::string& agent_root,
                const std::string& data_root);

  char common_root_[MAX_PATH] = {};
  char agent_root_[MAX_PATH] = {};
  char data_root_[MAX_PATH] = {};
};

// True for "\..." and, when longer than 3 characters, "X:\..."; also "/...".
bool IsAbsoluteAgentPath(const char* path);
