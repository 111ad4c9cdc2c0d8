#include "platform/variant.h"

namespace vorne {

void VariantClear(VARIANT* value) {
  if (value == nullptr) return;
  *value = VARIANT{};
}

COleVariant& COleVariant::operator=(const CByteArray& array) {
  VariantClear(this);
  vt = VT_ARRAY | VT_UI1;
  bytes.assign(array.GetData(), array.GetData() + array.GetSize());
  return *this;
}

}  // namespace vorne
