#include "plugin/entry.h"

#include "hostlog/host_log.h"
#include "plugin/camera_component.h"
#include "plugin/module_lock.h"

namespace vorne {

std::atomic<std::int32_t> ModuleLockCount{0};

namespace {

const ClassEntry kClassTable[] = {
    {u"WCameraControler", &CLSID_WCameraControler, 0, &CameraComponent::Create},
};
const std::int32_t kClassCount = 1;

}  // namespace

HRESULT VORNE_CALL LumoDll(PluginEntryTable* table) noexcept {
  if (table == nullptr) return E_POINTER;
  if (table->size != sizeof(PluginEntryTable)) return E_FAIL;
  table->GetInfo = &GetInfo;
  table->GetClassTable = &GetClassTable;
  table->CanUnloadNow = &CanUnloadNow;
  table->CreateInstance = &CreateInstance;
  return S_OK;
}

HRESULT VORNE_CALL GetInfo(std::uint32_t* first, std::uint32_t* second,
                           std::uint32_t* third) noexcept {
  if (first != nullptr) *first = 0x01000001;
  if (second != nullptr) *second = 1;
  if (third != nullptr) *third = 0;
  return 0;
}

HRESULT VORNE_CALL GetClassTable(const ClassEntry** table, std::int32_t* count) noexcept {
  if (table != nullptr) *table = kClassTable;
  if (count != nullptr) *count = kClassCount;
  return 0;
}

HRESULT VORNE_CALL CanUnloadNow() noexcept { return ModuleLockCount.load() == 0 ? S_OK : S_FALSE; }

HRESULT VORNE_CALL CreateInstance(const GUID* classId, const GUID* iid, IUnknown* outer,
                                  IUnknown* host, void** out) noexcept {
  // The sink is attached even by a creation that fails below.
  AttachHostLog(host, u"VORNE", 3, 2);
  if (out == nullptr) return E_POINTER;
  if (classId == nullptr || iid == nullptr) return E_POINTER;

  HRESULT result = E_FAIL;
  const ClassEntry* match = nullptr;
  for (std::int32_t i = 0; i < kClassCount; ++i) {
    const ClassEntry& row = kClassTable[i];
    if (row.classId == nullptr || row.create == nullptr) continue;
    if (IsEqualGUID(*row.classId, *classId)) {
      match = &row;
      break;
    }
  }
  if (match == nullptr) return E_FAIL;
  // An aggregated object hands out its inner unknown and nothing else: any
  // other interface would count on the outer object, and the release below
  // would destroy the object under the caller's pointer.
  if (outer != nullptr && !IsEqualGUID(*iid, IID_IUnknown)) {
    *out = nullptr;
    return CLASS_E_NOAGGREGATION;
  }

  IUnknown* object = match->create(outer, host, &result);
  if (object == nullptr) return FAILED(result) ? result : E_OUTOFMEMORY;
  auto* inner = static_cast<IInnerUnknown*>(object);
  if (FAILED(result)) {
    inner->Destroy();
    return result;
  }
  inner->AddRef();
  result = inner->QueryInterface(*iid, out);
  inner->Release();
  return result;
}

}  // namespace vorne
