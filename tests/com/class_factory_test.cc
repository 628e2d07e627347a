// The class factory and the module's lifetime, through the C++ shape and the
// C exports of libquillmark.so.
#include "com/class_factory.h"

#include <dlfcn.h>

#include <gtest/gtest.h>

#include <string>

#include "control/guids.h"

namespace quillmark::com {

using ::quillmark::control::CLASS_E_CLASSNOTAVAILABLE;
using ::quillmark::control::CLASS_E_NOAGGREGATION;
using ::quillmark::control::E_INVALIDARG;
using ::quillmark::control::E_NOINTERFACE;
using ::quillmark::control::E_POINTER;
using ::quillmark::control::E_UNEXPECTED;
using ::quillmark::control::Guid;
using ::quillmark::control::GuidToString;
using ::quillmark::control::kClassKeyPath;
using ::quillmark::control::kClsidLydraCorvaneQuillmark;
using ::quillmark::control::kClsidText;
using ::quillmark::control::kCtlSettingsKeyPath;
using ::quillmark::control::kDiidILydraCorvaneQuillmarkEvents;
using ::quillmark::control::kIidIClassFactory;
using ::quillmark::control::kIidILydraCorvaneQuillmark;
using ::quillmark::control::kIidIUnknown;
using ::quillmark::control::kLibidLydraQuillmark;
using ::quillmark::control::kLibidText;
using ::quillmark::control::S_FALSE;
using ::quillmark::control::S_OK;
namespace {

TEST(ClassFactoryTest, InstancesAndLocksKeepTheModuleLoaded) {
  ASSERT_EQ(CanUnloadNow(), S_OK) << "nothing alive at the start";
  ClassFactoryRef factory;
  EXPECT_EQ(GetClassObject(kIidILydraCorvaneQuillmark, kIidIClassFactory, &factory),
            CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(GetClassObject(kClsidLydraCorvaneQuillmark, kIidILydraCorvaneQuillmark, &factory),
            E_NOINTERFACE);
  EXPECT_EQ(factory, nullptr);
  EXPECT_EQ(CanUnloadNow(), S_OK) << "a refused request holds nothing";

  ASSERT_EQ(GetClassObject(kClsidLydraCorvaneQuillmark, kIidIClassFactory, &factory), S_OK);
  EXPECT_EQ(CanUnloadNow(), S_FALSE) << "a factory reference is a lock";

  ControlPtr a, b;
  int outer = 0;
  EXPECT_EQ(factory->CreateInstance(&outer, kIidILydraCorvaneQuillmark, &a), CLASS_E_NOAGGREGATION);
  EXPECT_EQ(factory->CreateInstance(nullptr, kIidIClassFactory, &a), E_NOINTERFACE);
  EXPECT_EQ(a, nullptr);
  EXPECT_EQ(ModuleObjectCount(), 0u);
  ASSERT_EQ(factory->CreateInstance(nullptr, kIidILydraCorvaneQuillmark, &a), S_OK);
  ASSERT_EQ(factory->CreateInstance(nullptr, kIidIUnknown, &b), S_OK);
  EXPECT_EQ(ModuleObjectCount(), 2u);
  EXPECT_NE(a.get(), b.get());

  // Two independent controls with their defaults.
  std::int32_t size = 0;
  ASSERT_EQ(a->put_MaxCompSize(1000), S_OK);
  ASSERT_EQ(b->get_MaxCompSize(&size), S_OK);
  EXPECT_EQ(size, 51200);

  factory.reset();
  EXPECT_EQ(ModuleLockCount(), 0u);
  EXPECT_EQ(CanUnloadNow(), S_FALSE) << "instances alive";
  a.reset();
  EXPECT_EQ(CanUnloadNow(), S_FALSE);
  b.reset();
  EXPECT_EQ(CanUnloadNow(), S_OK);

  // LockServer without instances.
  ASSERT_EQ(GetClassObject(kClsidLydraCorvaneQuillmark, kIidIUnknown, &factory), S_OK);
  ClassFactory* raw = factory.get();
  factory.reset();
  EXPECT_EQ(raw->LockServer(true), S_OK);
  EXPECT_EQ(raw->LockServer(true), S_OK);
  EXPECT_EQ(CanUnloadNow(), S_FALSE);
  EXPECT_EQ(raw->LockServer(false), S_OK);
  EXPECT_EQ(raw->LockServer(false), S_OK);
  EXPECT_EQ(raw->LockServer(false), E_UNEXPECTED) << "no lock left to release";
  EXPECT_EQ(raw->Release(), 0u) << "no reference left to release";
  EXPECT_EQ(ModuleLockCount(), 0u);
  EXPECT_EQ(CanUnloadNow(), S_OK);
}

// The exports have C names and are visible from the library.
TEST(ClassFactoryTest, ExportsWorkThroughTheirCNames) {
  void* library = dlopen(nullptr, RTLD_NOW);
  ASSERT_NE(library, nullptr);
  using GetClassObjectFn = std::int32_t (*)(const Guid*, const Guid*, void**);
  using NoArgsFn = std::int32_t (*)();
  auto get = reinterpret_cast<GetClassObjectFn>(dlsym(library, "DllGetClassObject"));
  auto can_unload = reinterpret_cast<NoArgsFn>(dlsym(library, "DllCanUnloadNow"));
  ASSERT_NE(get, nullptr);
  ASSERT_NE(can_unload, nullptr);
  EXPECT_NE(dlsym(library, "DllRegisterServer"), nullptr);
  EXPECT_NE(dlsym(library, "DllUnregisterServer"), nullptr);

  EXPECT_EQ(get(&kClsidLydraCorvaneQuillmark, &kIidIClassFactory, nullptr), E_POINTER);
  void* object = &object;
  EXPECT_EQ(get(nullptr, &kIidIClassFactory, &object), E_INVALIDARG);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(get(&kIidIClassFactory, &kIidIClassFactory, &object), CLASS_E_CLASSNOTAVAILABLE);

  ASSERT_EQ(get(&kClsidLydraCorvaneQuillmark, &kIidIClassFactory, &object), S_OK);
  auto* factory = static_cast<ClassFactory*>(object);
  EXPECT_EQ(can_unload(), S_FALSE);
  ControlPtr control;
  ASSERT_EQ(factory->CreateInstance(nullptr, kIidILydraCorvaneQuillmark, &control), S_OK);
  EXPECT_EQ(factory->Release(), 0u);
  EXPECT_EQ(can_unload(), S_FALSE);
  control.reset();
  EXPECT_EQ(can_unload(), S_OK);
  dlclose(library);
}

TEST(GuidTest, TextsMatchTheValues) {
  EXPECT_EQ(GuidToString(kClsidLydraCorvaneQuillmark), "{F05580A8-E757-478E-B4E2-453BFDF94D69}");
  EXPECT_EQ(GuidToString(kIidILydraCorvaneQuillmark), "{2D1053EE-19C5-44D6-87CB-269A3B33791D}");
  EXPECT_EQ(GuidToString(kDiidILydraCorvaneQuillmarkEvents),
            "{0327BCB2-C3D4-4CA0-8DCB-AF80A3161C1B}");
  EXPECT_EQ(GuidToString(kLibidLydraQuillmark), "{F4ABE35D-ED6E-447B-A4F4-B19CAFA02AE8}");
  EXPECT_EQ(GuidToString(kIidIClassFactory), "{00000001-0000-0000-C000-000000000046}");
  const std::u16string_view texts[] = {kClsidText, kLibidText};
  const Guid* values[] = {&kClsidLydraCorvaneQuillmark, &kLibidLydraQuillmark};
  for (int i = 0; i < 2; ++i) {
    std::string text = GuidToString(*values[i]);
    EXPECT_EQ(std::u16string(text.begin(), text.end()), texts[i]);
  }
  EXPECT_EQ(kCtlSettingsKeyPath, std::u16string(kClassKeyPath) + u"\\CtlSettings");
}

}  // namespace
}  // namespace quillmark::com
