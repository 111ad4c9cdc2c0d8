#include "platform/variant.h"

namespace vorne {

void VariantClear(VARIANT* value) {
  if (value == nullptr) return;
  value->vt = VT_EMPTY;
  value->intVal = 0;
  // Emptied but not released: a variant filled again per frame needs no
  // new storage.
  value->bstrVal.clear();
  value->bytes.clear();
}

COleVariant& COleVariant::operator=(const CByteArray& array) {
  VariantClear(this);
  vt = VT_ARRAY | VT_UI1;
  bytes.assign(array.GetData(), array.GetData() + array.GetSize());
  return *this;
}

}  // namespace vorne
