// Object-name interning of the MIB store.
#include "mibtree/detail/MibEntry.h"

namespace mibtree::detail {

const char* NameTable::Intern(const char* name) {
  if (name == nullptr || *name == '\0') return "";
  const std::string_view text(name);
  auto found = names_.find(text);
  if (found == names_.end()) found = names_.emplace(text).first;
  return found->c_str();
}

}  // namespace mibtree::detail
