// The registry store: paths, volatile keys, values and their buffer rules, deletion,
// enumeration, access rights and several writers.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/RegistryFixture.h"
#include "platform/registry/Registry.h"

namespace {

using platform::RegistryKey;

using RegistryTest = RegistryFixture;

HKEY CreateKey(const char* path, DWORD options = REG_OPTION_NON_VOLATILE, LONG* result = nullptr) {
  HKEY key = nullptr;
  const LONG status = RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, nullptr, options, KEY_ALL_ACCESS,
                                      nullptr, &key, nullptr);
  if (result != nullptr) *result = status;
  return key;
}

// Creates and closes a key; the status of the creation.
LONG Make(const char* path, DWORD options = REG_OPTION_NON_VOLATILE) {
  LONG status = 0;
  RegCloseKey(CreateKey(path, options, &status));
  return status;
}

LONG OpenStatus(const char* path) {
  HKEY key = nullptr;
  const LONG status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key);
  if (key != nullptr) RegCloseKey(key);
  return status;
}

std::vector<std::string> SubKeys(const char* path) {
  auto key = RegistryKey::Open(HKEY_LOCAL_MACHINE, path);
  return key ? key->EnumSubKeys() : std::vector<std::string>{"<missing>"};
}

void RemoveVolatileStore(const std::string& runtime_dir) {
  for (const char* suffix : {"", "-wal", "-shm"}) {
    unlink((runtime_dir + "/registry-volatile.db" + suffix).c_str());
  }
}

// Case folding, ordering and deletion results are the model test's; these keep the boundaries.
TEST_F(RegistryTest, CreateTellsNewFromExistingAndAFailedOpenClearsTheHandle) {
  for (const auto& [path, expected] :
       {std::pair{"A\\B", REG_CREATED_NEW_KEY}, {"a\\b", REG_OPENED_EXISTING_KEY}}) {
    HKEY key = nullptr;
    DWORD disposition = 0;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &key, &disposition),
              LONG{ERROR_SUCCESS});
    EXPECT_EQ(disposition, DWORD{expected});
    RegCloseKey(key);
  }
  HKEY other_key = reinterpret_cast<HKEY>(0x1234);
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Nothing", 0, KEY_READ, &other_key),
            LONG{ERROR_FILE_NOT_FOUND});
  EXPECT_EQ(other_key, nullptr);
}

TEST_F(RegistryTest, MalformedPathsAreRefusedAndCreateNothing) {
  EXPECT_EQ(Make("\\Leading"), LONG{ERROR_BAD_PATHNAME});
  EXPECT_EQ(Make("Doubled\\\\Slash"), LONG{ERROR_BAD_PATHNAME});
  EXPECT_EQ(Make(std::string(256, 'k').c_str()), LONG{ERROR_INVALID_PARAMETER});
  EXPECT_EQ(OpenStatus("Doubled"), LONG{ERROR_FILE_NOT_FOUND});
  // One trailing backslash is harmless.
  Make("Trailing\\");
  EXPECT_EQ(OpenStatus("Trailing"), LONG{ERROR_SUCCESS});
}

TEST_F(RegistryTest, VolatileKeysAreGoneWithTheVolatileFileTheirParentsStay) {
  Make("SOFTWARE\\Quorvath");
  HKEY status_key = CreateKey("SOFTWARE\\Quorvath\\#Status", REG_OPTION_VOLATILE);
  ASSERT_NE(status_key, nullptr);
  RegistryKey::Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Quorvath\\#Status")->SetString("Agent", "ok");
  RemoveVolatileStore(runtime_dir_);

  EXPECT_EQ(OpenStatus("SOFTWARE\\Quorvath\\#Status"), LONG{ERROR_FILE_NOT_FOUND});
  EXPECT_EQ(OpenStatus("SOFTWARE\\Quorvath"), LONG{ERROR_SUCCESS});
  const DWORD one = 1;
  EXPECT_EQ(RegSetValueExA(status_key, "x", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4),
            LONG{ERROR_KEY_DELETED});
  RegCloseKey(status_key);
  // The agent writes its volatile status key before anything else exists; the
  // persistent parameters created beside it later must still be possible.
  Make("Persistent\\Fresh\\Leaf", REG_OPTION_VOLATILE);
  EXPECT_EQ(Make("Persistent\\Fresh\\Sibling"), LONG{ERROR_SUCCESS});
  RemoveVolatileStore(runtime_dir_);
  EXPECT_EQ(OpenStatus("Persistent\\Fresh"), LONG{ERROR_SUCCESS});
  EXPECT_EQ(OpenStatus("Persistent\\Fresh\\Sibling"), LONG{ERROR_SUCCESS});
  EXPECT_EQ(OpenStatus("Persistent\\Fresh\\Leaf"), LONG{ERROR_FILE_NOT_FOUND});
  Make("Params\\VolatileParameters", REG_OPTION_VOLATILE);
  EXPECT_EQ(Make("Params\\VolatileParameters\\Mid\\Leaf"), LONG{ERROR_CHILD_MUST_BE_VOLATILE});
  EXPECT_EQ(OpenStatus("Params\\VolatileParameters\\Mid"), LONG{ERROR_FILE_NOT_FOUND});
  // Opening the existing volatile key without the option is fine.
  EXPECT_EQ(Make("Params\\VolatileParameters"), LONG{ERROR_SUCCESS});
}

TEST_F(RegistryTest, ValueSizesAreCheckedBothWays) {
  auto key = RegistryKey::Create(HKEY_LOCAL_MACHINE, "V");
  ASSERT_EQ(key->SetString("Name", "abc"), LONG{ERROR_SUCCESS});
  DWORD type = 0;
  DWORD size = 0;
  ASSERT_EQ(RegQueryValueExA(key->Get(), "name", nullptr, &type, nullptr, &size),
            LONG{ERROR_SUCCESS});
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(size, 4u);
  BYTE small[3] = {};
  size = sizeof small;
  EXPECT_EQ(RegQueryValueExA(key->Get(), "Name", nullptr, nullptr, small, &size),
            LONG{ERROR_MORE_DATA});
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(RegQueryValueExA(key->Get(), "Name", nullptr, nullptr, small, nullptr),
            LONG{ERROR_INVALID_PARAMETER});
  EXPECT_EQ(RegQueryValueExA(key->Get(), "Missing", nullptr, nullptr, nullptr, &size),
            LONG{ERROR_FILE_NOT_FOUND});
  auto other_key = RegistryKey::Create(HKEY_LOCAL_MACHINE, "Big");
  other_key->SetDword("v", 7);
  const std::vector<BYTE> huge(kMaxRegistryValueSize + 1);
  EXPECT_EQ(RegSetValueExA(other_key->Get(), "v", 0, REG_BINARY, huge.data(),
                           static_cast<DWORD>(huge.size())),
            LONG{ERROR_INVALID_PARAMETER});
  EXPECT_EQ(RegSetValueExA(other_key->Get(), "v", 0, REG_BINARY, nullptr, 4),
            LONG{ERROR_INVALID_PARAMETER});
  EXPECT_EQ(other_key->QueryDword("v"), 7u);
  EXPECT_EQ(RegSetValueExA(other_key->Get(), std::string(kMaxRegistryValueName + 1, 'n').c_str(), 0,
                           REG_NONE, nullptr, 0),
            LONG{ERROR_INVALID_PARAMETER});
  auto default_key = RegistryKey::Create(HKEY_LOCAL_MACHINE, "D");
  const char text[] = "default";
  ASSERT_EQ(RegSetValueExA(default_key->Get(), nullptr, 0, REG_SZ,
                           reinterpret_cast<const BYTE*>(text), sizeof text),
            LONG{ERROR_SUCCESS});
  EXPECT_EQ(default_key->QueryString(""), "default");
}

TEST_F(RegistryTest, ExpandableStringsAreExpandedOnReadAndTypesAreNotConverted) {
  setenv("LORVETH_TEST_LOGS", "/var/log/lorveth", 1);
  unsetenv("SystemRoot");
  auto key = RegistryKey::Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Debug\\App");
  key->SetString("TraceFile", "%lorveth_test_logs%\\trace.log", REG_EXPAND_SZ);
  key->SetString("Root", "%SystemRoot%system32 %NoSuchVariable% 100%", REG_EXPAND_SZ);
  key->SetString("Plain", "%LORVETH_TEST_LOGS%");
  EXPECT_EQ(key->QueryString("TraceFile"), "/var/log/lorveth\\trace.log");
  EXPECT_EQ(key->QueryString("Root"), "/system32 %NoSuchVariable% 100%");
  EXPECT_EQ(key->QueryString("Plain"), "%LORVETH_TEST_LOGS%");
  char buffer[64];
  DWORD size = sizeof buffer;
  DWORD type = 0;
  ASSERT_EQ(RegQueryValueExA(key->Get(), "TraceFile", nullptr, &type,
                             reinterpret_cast<BYTE*>(buffer), &size),
            LONG{ERROR_SUCCESS});
  EXPECT_EQ(type, REG_EXPAND_SZ);  // raw reads never expand
  EXPECT_STREQ(buffer, "%lorveth_test_logs%\\trace.log");
  key->SetDword("Level", 3);
  EXPECT_EQ(key->QueryString("Level"), std::nullopt);
  EXPECT_EQ(key->QueryDword("Plain"), std::nullopt);
  setenv("LORVETH_TEST_X", "12345", 1);
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(ExpandEnvironmentStringsA("a%LORVETH_TEST_X%b", buffer, 7), 8u);
  EXPECT_EQ(buffer[0], '#');
  EXPECT_EQ(ExpandEnvironmentStringsA("a%LORVETH_TEST_X%b", buffer, 8), 8u);
  EXPECT_STREQ(buffer, "a12345b");
  EXPECT_EQ(ExpandEnvironmentStringsA("%%", buffer, 8), 3u);
  EXPECT_STREQ(buffer, "%%");
}

TEST_F(RegistryTest, DeleteTreeTakesTheVolatilePartAndHandlesOfDeletedKeysKnowIt) {
  Make("Top\\A\\Vol", REG_OPTION_VOLATILE);
  ASSERT_EQ(RegDeleteTreeA(HKEY_LOCAL_MACHINE, "top\\a"), LONG{ERROR_SUCCESS});
  EXPECT_EQ(OpenStatus("Top\\A\\Vol"), LONG{ERROR_FILE_NOT_FOUND});
  auto key = RegistryKey::Create(HKEY_LOCAL_MACHINE, "Keep");
  key->SetDword("v", 1);
  Make("Keep\\Child");
  ASSERT_EQ(RegDeleteTreeA(key->Get(), nullptr), LONG{ERROR_SUCCESS});
  EXPECT_TRUE(key->EnumValues().empty());
  EXPECT_TRUE(key->EnumSubKeys().empty());
  EXPECT_EQ(OpenStatus("Keep"), LONG{ERROR_SUCCESS});
  EXPECT_EQ(RegDeleteTreeA(HKEY_LOCAL_MACHINE, nullptr), LONG{ERROR_ACCESS_DENIED});
  auto gone = RegistryKey::Create(HKEY_LOCAL_MACHINE, "Gone");
  ASSERT_EQ(RegDeleteTreeA(HKEY_LOCAL_MACHINE, "Gone"), LONG{ERROR_SUCCESS});
  Make("Gone");
  EXPECT_EQ(gone->SetDword("v", 1), LONG{ERROR_KEY_DELETED});
  EXPECT_EQ(RegistryKey::Open(HKEY_LOCAL_MACHINE, "Gone")->QueryDword("v"), std::nullopt);
}

TEST_F(RegistryTest, EnumerationBuffersAndEndAndSubKeysOfBothStoresInOneOrder) {
  auto key = RegistryKey::Create(HKEY_LOCAL_MACHINE, "E");
  key->SetDword("zeta", 1);
  key->SetString("", "default");
  key->SetDword("Alpha", 2);
  char name[3];
  DWORD name_size = sizeof name;
  EXPECT_EQ(RegEnumValueA(key->Get(), 2, name, &name_size, nullptr, nullptr, nullptr, nullptr),
            LONG{ERROR_MORE_DATA});
  name_size = sizeof name;
  EXPECT_EQ(RegEnumValueA(key->Get(), 3, name, &name_size, nullptr, nullptr, nullptr, nullptr),
            LONG{ERROR_NO_MORE_ITEMS});
  Make("S\\delta");
  Make("S\\Charlie", REG_OPTION_VOLATILE);
  Make("S\\bravo");
  Make("S\\ALPHA", REG_OPTION_VOLATILE);
  EXPECT_EQ(SubKeys("S"), (std::vector<std::string>{"ALPHA", "bravo", "Charlie", "delta"}));

  HKEY other_key = CreateKey("S");
  char other_name[8];
  DWORD other_name_size = sizeof other_name;
  std::uint64_t last_write = 0;
  ASSERT_EQ(RegEnumKeyExA(other_key, 3, other_name, &other_name_size, nullptr, nullptr, nullptr,
                          &last_write),
            LONG{ERROR_SUCCESS});
  EXPECT_EQ(other_name_size, 5u);
  EXPECT_GT(last_write, 116444736000000000ull);  // after 1970 in FILETIME units
  other_name_size = sizeof other_name;
  EXPECT_EQ(
      RegEnumKeyExA(other_key, 4, other_name, &other_name_size, nullptr, nullptr, nullptr, nullptr),
      LONG{ERROR_NO_MORE_ITEMS});
  RegCloseKey(other_key);
}

TEST_F(RegistryTest, AccessRightsOfTheHandleAreEnforced) {
  Make("R");
  auto reader = RegistryKey::Open(HKEY_LOCAL_MACHINE, "R", KEY_READ);
  EXPECT_EQ(reader->SetDword("v", 1), LONG{ERROR_ACCESS_DENIED});
  auto writer = RegistryKey::Open(HKEY_LOCAL_MACHINE, "R", KEY_SET_VALUE);
  EXPECT_EQ(writer->SetDword("v", 1), LONG{ERROR_SUCCESS});
  EXPECT_EQ(writer->QueryDword("v"), std::nullopt);
  EXPECT_EQ(reader->QueryDword("v"), 1u);
  HKEY child = nullptr;
  EXPECT_EQ(RegCreateKeyExA(reader->Get(), "Child", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &child,
                            nullptr),
            LONG{ERROR_ACCESS_DENIED});
  HKEY key = CreateKey("H");
  ASSERT_EQ(RegCloseKey(key), LONG{ERROR_SUCCESS});
  EXPECT_EQ(RegCloseKey(key), LONG{ERROR_INVALID_HANDLE});
  EXPECT_EQ(RegSetValueExA(key, "v", 0, REG_NONE, nullptr, 0), LONG{ERROR_INVALID_HANDLE});
  EXPECT_EQ(RegCloseKey(nullptr), LONG{ERROR_INVALID_HANDLE});
  EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), LONG{ERROR_SUCCESS});
  EXPECT_EQ(RegSetValueExA(HKEY_LOCAL_MACHINE, "v", 0, REG_NONE, nullptr, 0),
            LONG{ERROR_ACCESS_DENIED});
}

std::string Fold(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// Folded path -> "name=data" of each value, in the order first written.
using Tree = std::map<std::string, std::vector<std::string>>;

// Every key below `path` with its values; subkeys come in order without regard to case.
void Walk(const std::string& path, Tree* seen) {
  auto key = RegistryKey::Open(HKEY_LOCAL_MACHINE, path);
  ASSERT_TRUE(key) << path;
  for (const auto& value : key->EnumValues()) {
    (*seen)[Fold(path)].push_back(Fold(value.name) + "=" + std::to_string(value.data.at(0)));
  }
  std::vector<std::string> folded;
  for (const auto& name : key->EnumSubKeys()) {
    folded.push_back(Fold(name));
    (*seen)[Fold(path.empty() ? name : path + "\\" + name)];
    Walk(path.empty() ? name : path + "\\" + name, seen);
  }
  EXPECT_TRUE(std::is_sorted(folded.begin(), folded.end())) << path;
}

TEST_F(RegistryTest, RandomOperationsAgreeWithASimpleModel) {
  // Names chosen to collide by case and to sit next to each other in order.
  const std::vector<std::string> names = {"a", "A", "ab", "a]", "b", "a b", "Zz"};
  std::mt19937 random(20261205);
  const auto pick = [&](size_t n) { return static_cast<size_t>(random() % n); };
  Tree model;
  for (int step = 0; step < 300; ++step) {
    std::string path = names[pick(names.size())];
    for (size_t depth = pick(3); depth > 0; --depth) path += "\\" + names[pick(names.size())];
    const std::string key = Fold(path);
    const std::string name = names[pick(names.size())];
    const auto found = model.find(key);
    const bool exists = found != model.end();
    std::vector<std::string> none;
    std::vector<std::string>& values = exists ? found->second : none;
    const auto value = std::find_if(values.begin(), values.end(), [&](const std::string& v) {
      return v.substr(0, v.find('=')) == Fold(name);
    });
    const auto below = [&](const auto& entry) { return entry.first.starts_with(key + "\\"); };
    switch (pick(5)) {
      case 0:
      case 1: {
        const DWORD data = static_cast<DWORD>(pick(200));
        ASSERT_EQ(RegistryKey::Create(HKEY_LOCAL_MACHINE, path)->SetDword(name, data),
                  LONG{ERROR_SUCCESS});
        for (size_t at = key.find('\\'); at != std::string::npos; at = key.find('\\', at + 1)) {
          model[key.substr(0, at)];
        }
        const std::string entry = Fold(name) + "=" + std::to_string(data);
        if (!exists || value == values.end()) {
          model[key].push_back(entry);
        } else {
          *value = entry;
        }
        break;
      }
      case 2: {
        HKEY handle = nullptr;
        ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_ALL_ACCESS, &handle),
                  exists ? LONG{ERROR_SUCCESS} : LONG{ERROR_FILE_NOT_FOUND});
        if (handle == nullptr) break;
        const bool has = value != values.end();
        EXPECT_EQ(RegDeleteValueA(handle, name.c_str()),
                  has ? LONG{ERROR_SUCCESS} : LONG{ERROR_FILE_NOT_FOUND});
        if (has) values.erase(value);
        RegCloseKey(handle);
        break;
      }
      case 3:
        EXPECT_EQ(RegDeleteTreeA(HKEY_LOCAL_MACHINE, path.c_str()),
                  exists ? LONG{ERROR_SUCCESS} : LONG{ERROR_FILE_NOT_FOUND});
        model.erase(key);
        std::erase_if(model, below);
        break;
      default: {
        const bool has_children = std::any_of(model.begin(), model.end(), below);
        const LONG expected = !exists        ? LONG{ERROR_FILE_NOT_FOUND}
                              : has_children ? LONG{ERROR_ACCESS_DENIED}
                                             : LONG{ERROR_SUCCESS};
        EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, path.c_str()), expected) << path;
        if (expected == LONG{ERROR_SUCCESS}) model.erase(key);
      }
    }
  }
  Tree seen;
  Walk("", &seen);
  seen.erase("");
  EXPECT_GE(model.size(), 8u);  // the walk compares a populated tree
  EXPECT_EQ(seen, model);
}

// Two processes with two threads each add values to one key at once: none is lost.
TEST_F(RegistryTest, WritersInProcessesAndThreadsLoseNoValue) {
  constexpr int kValues = 100;
  const auto add_values = [](const std::string& prefix) {
    for (int i = 0; i < kValues; ++i) {
      auto key = RegistryKey::Create(HKEY_LOCAL_MACHINE, "Shared\\Target");
      if (!key || key->SetDword(prefix + std::to_string(i), DWORD(i)) != ERROR_SUCCESS)
        return false;
    }
    return true;
  };
  std::vector<pid_t> children;
  for (const char* process : {"a", "b"}) {
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      bool ok[2] = {false, false};
      std::thread second([&] { ok[1] = add_values(std::string(process) + "2_"); });
      ok[0] = add_values(std::string(process) + "1_");
      second.join();
      _exit(ok[0] && ok[1] ? 0 : 1);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  auto key = RegistryKey::Open(HKEY_LOCAL_MACHINE, "Shared\\Target");
  ASSERT_TRUE(key);
  EXPECT_EQ(key->EnumValues().size(), 4u * kValues);
  EXPECT_EQ(key->QueryDword("b2_99"), 99u);
}

}  // namespace
