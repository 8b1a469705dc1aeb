// Row names in instance OIDs.
#include "threshold/RowIndex.h"

std::string RowNameAt(const AsnObjectIdentifier& oid, UINT position) {
  std::string name;
  if (oid.ids == nullptr || position >= oid.idLength) return name;
  const UINT length = oid.ids[position];
  const UINT available = oid.idLength - position - 1;
  const UINT count = length < available ? length : available;
  name.reserve(count);
  for (UINT i = 0; i < count; ++i) {
    name.push_back(static_cast<char>(oid.ids[position + 1 + i] & 0xFF));
  }
  return name;
}
