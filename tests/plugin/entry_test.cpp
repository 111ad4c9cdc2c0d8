// The entry table, class table and creation paths, in-process.
#include "plugin/entry.h"

#include <gtest/gtest.h>

#include <cstring>

#include "hostlog/host_log.h"
#include "plugin/camera_component.h"
#include "plugin/module_lock.h"
#include "support/module_fixture.h"

using namespace vorne;

namespace {

using vorne_test::InProcessTest;

// Stands in for an aggregating object: counts its own references.
class OuterObject final : public IUnknown {
 public:
  HRESULT VORNE_CALL QueryInterface(const GUID&, void** out) override {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  vorne_ulong_t VORNE_CALL AddRef() override { return static_cast<vorne_ulong_t>(++refs); }
  vorne_ulong_t VORNE_CALL Release() override { return static_cast<vorne_ulong_t>(--refs); }
  int refs = 1;
};

PluginEntryTable Filled(std::uint32_t size) {
  PluginEntryTable table;
  std::memset(&table, 0xAB, sizeof(table));
  table.size = size;
  return table;
}

TEST(LumoDll, RefusesNullAndWrongSizesLeavingTheTableUntouched) {
  EXPECT_EQ(LumoDll(nullptr), E_POINTER);
  for (std::uint32_t size : {0u, 20u, 24u, 39u, 41u, 0xFFFFFFFFu}) {
    if (size == sizeof(PluginEntryTable)) continue;
    PluginEntryTable table = Filled(size);
    const PluginEntryTable before = table;
    EXPECT_EQ(LumoDll(&table), E_FAIL) << size;
    EXPECT_EQ(std::memcmp(&table, &before, sizeof(table)), 0) << size;
  }
}

TEST(LumoDll, FillsTheFourEntriesTheSameEveryTime) {
  PluginEntryTable first = Filled(sizeof(PluginEntryTable));
  ASSERT_EQ(LumoDll(&first), S_OK);
  EXPECT_EQ(first.GetInfo, &GetInfo);
  EXPECT_EQ(first.GetClassTable, &GetClassTable);
  EXPECT_EQ(first.CanUnloadNow, &CanUnloadNow);
  EXPECT_EQ(first.CreateInstance, &CreateInstance);
  PluginEntryTable second = Filled(sizeof(PluginEntryTable));
  ASSERT_EQ(LumoDll(&second), S_OK);
  EXPECT_EQ(std::memcmp(&first, &second, sizeof(first)), 0);
}

TEST(GetInfo, WritesOnlyThroughNonNullPointers) {
  EXPECT_EQ(GetInfo(nullptr, nullptr, nullptr), 0);
  std::uint32_t third = 7;
  EXPECT_EQ(GetInfo(nullptr, nullptr, &third), 0);
  EXPECT_EQ(third, 0u);
  std::uint32_t a = 0, b = 0, c = 9;
  EXPECT_EQ(GetInfo(&a, &b, &c), 0);
  EXPECT_EQ(a, 0x01000001u);
  EXPECT_EQ(b, 1u);
  EXPECT_EQ(c, 0u);
}

TEST(GetClassTable, ListsWCameraControlerOnce) {
  EXPECT_EQ(GetClassTable(nullptr, nullptr), 0);
  const ClassEntry* rows = nullptr;
  std::int32_t count = 0;
  ASSERT_EQ(GetClassTable(&rows, &count), 0);
  ASSERT_EQ(count, 1);
  ASSERT_NE(rows, nullptr);
  EXPECT_EQ(std::u16string_view(rows[0].name), u"WCameraControler");
  EXPECT_TRUE(IsEqualGUID(*rows[0].classId, CLSID_WCameraControler));
  EXPECT_EQ(rows[0].reserved, 0u);
  EXPECT_NE(rows[0].create, nullptr);
}

class CreateInstanceTest : public InProcessTest {};

TEST_F(CreateInstanceTest, UnknownClassFailsButAttachesTheLog) {
  const GUID other = {1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
  void* out = reinterpret_cast<void*>(0x1234);
  EXPECT_EQ(CreateInstance(&other, &IID_IPtzControl, nullptr, &host_, &out), E_FAIL);
  EXPECT_EQ(out, reinterpret_cast<void*>(0x1234));
  EXPECT_NE(HostLog, nullptr);
  EXPECT_EQ(host_.createLogCalls, 1);
  EXPECT_EQ(host_.lastModuleName, u"VORNE");
  EXPECT_EQ(host_.lastA, 3);
  EXPECT_EQ(host_.lastB, 2);
  EXPECT_EQ(host_.References(), 0);  // the factory was released again
}

TEST_F(CreateInstanceTest, NullOutIsRefusedAfterAttachingTheLog) {
  EXPECT_EQ(CreateInstance(&CLSID_WCameraControler, &IID_IPtzControl, nullptr, &host_, nullptr),
            E_POINTER);
  EXPECT_NE(HostLog, nullptr);
  EXPECT_EQ(ModuleLockCount.load(), 0);
}

TEST_F(CreateInstanceTest, EachSupportedInterfaceComesWithOneReference) {
  for (const GUID* iid : {&IID_IUnknown, &IID_IPtzControl}) {
    IUnknown* object = nullptr;
    ASSERT_EQ(CreateInstance(&CLSID_WCameraControler, iid, nullptr, &host_,
                             reinterpret_cast<void**>(&object)),
              S_OK);
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(CanUnloadNow(), S_FALSE);
    EXPECT_EQ(object->AddRef(), 2u);
    EXPECT_EQ(object->Release(), 1u);
    EXPECT_EQ(object->Release(), 0u);
    EXPECT_EQ(CanUnloadNow(), S_OK);
  }
}

TEST_F(CreateInstanceTest, OtherInterfaceLeavesNoObjectBehind) {
  void* out = reinterpret_cast<void*>(0x1234);
  EXPECT_EQ(CreateInstance(&CLSID_WCameraControler, &IID_IHostLogFactory, nullptr, &host_, &out),
            E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(ModuleLockCount.load(), 0);
  EXPECT_EQ(CanUnloadNow(), S_OK);
}

TEST_F(CreateInstanceTest, AggregatedComponentCountsItsInterfaceOnTheOuterObject) {
  OuterObject outer;
  IUnknown* inner = nullptr;
  ASSERT_EQ(CreateInstance(&CLSID_WCameraControler, &IID_IUnknown, &outer, &host_,
                           reinterpret_cast<void**>(&inner)),
            S_OK);
  EXPECT_EQ(outer.refs, 1);  // creation touched only the inner count

  IPtzControl* control = nullptr;
  ASSERT_EQ(inner->QueryInterface(IID_IPtzControl, reinterpret_cast<void**>(&control)), S_OK);
  EXPECT_EQ(outer.refs, 2);
  EXPECT_EQ(control->AddRef(), 3u);
  EXPECT_EQ(control->Release(), 2u);
  EXPECT_EQ(control->Release(), 1u);
  EXPECT_EQ(outer.refs, 1);
  EXPECT_EQ(control->GetCameraTypeCount(), 8u);

  // The inner unknown keeps its own count: one from creation.
  EXPECT_EQ(inner->AddRef(), 2u);
  EXPECT_EQ(inner->Release(), 1u);
  EXPECT_EQ(CanUnloadNow(), S_FALSE);
  EXPECT_EQ(inner->Release(), 0u);
  EXPECT_EQ(CanUnloadNow(), S_OK);
  EXPECT_EQ(outer.refs, 1);
}

TEST_F(CreateInstanceTest, AggregationOffersOnlyTheInnerUnknown) {
  OuterObject outer;
  void* out = reinterpret_cast<void*>(0x1234);
  EXPECT_EQ(CreateInstance(&CLSID_WCameraControler, &IID_IPtzControl, &outer, &host_, &out),
            CLASS_E_NOAGGREGATION);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(outer.refs, 1);  // no reference left behind on the outer object
  EXPECT_EQ(ModuleLockCount.load(), 0);
}

TEST_F(CreateInstanceTest, InnerQueryInterfaceRefusesNullAndUnknownIds) {
  IUnknown* inner = nullptr;
  ASSERT_EQ(CreateInstance(&CLSID_WCameraControler, &IID_IUnknown, nullptr, &host_,
                           reinterpret_cast<void**>(&inner)),
            S_OK);
  EXPECT_EQ(inner->QueryInterface(IID_IPtzControl, nullptr), E_POINTER);
  void* out = reinterpret_cast<void*>(0x1);
  EXPECT_EQ(inner->QueryInterface(IID_IHostLogFactory, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(inner->Release(), 0u);
}

TEST_F(CreateInstanceTest, CreateFunctionWithoutResultPointerMakesNothing) {
  EXPECT_EQ(CameraComponent::Create(nullptr, &host_, nullptr), nullptr);
  EXPECT_EQ(ModuleLockCount.load(), 0);
}

}  // namespace
