// The COM server inside quillmark.dll, called the way a host calls it: the
// exports, the class factory, IDispatch, the type library embedded as a
// resource (this program embeds quillmark.rc too), safety, persistence and
// drawing. Nothing is registered.

// The type library's table first: the system's headers define S_OK and the
// other statuses as macros, which the table's own header must not meet.
#include "com/type_library.h"
#include "control/guids.h"

#include <windows.h>

#include <objsafe.h>
#include <ocidl.h>
#include <ole2.h>
#include <olectl.h>

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace quillmark::com {
namespace {

const GUID& Clsid() {
  static const GUID clsid = {
      0xF05580A8, 0xE757, 0x478E, {0xB4, 0xE2, 0x45, 0x3B, 0xFD, 0xF9, 0x4D, 0x69}};
  return clsid;
}
const GUID& Iid() {
  static const GUID iid = {
      0x2D1053EE, 0x19C5, 0x44D6, {0x87, 0xCB, 0x26, 0x9A, 0x3B, 0x33, 0x79, 0x1D}};
  return iid;
}
const GUID& EventsDiid() {
  static const GUID diid = {
      0x0327BCB2, 0xC3D4, 0x4CA0, {0x8D, 0xCB, 0xAF, 0x80, 0xA3, 0x16, 0x1C, 0x1B}};
  return diid;
}

// Owns one interface pointer.
template <typename T>
class Ref {
 public:
  Ref() = default;
  ~Ref() { reset(); }
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  T* get() const { return p_; }
  T* operator->() const { return p_; }
  void** out() {
    reset();
    return reinterpret_cast<void**>(&p_);
  }
  void reset() {
    if (p_ != nullptr) p_->Release();
    p_ = nullptr;
  }

 private:
  T* p_ = nullptr;
};

// A VARIANT cleared when it goes.
struct Var {
  Var() { VariantInit(&v); }
  explicit Var(const wchar_t* text) : Var() {
    V_VT(&v) = VT_BSTR;
    V_BSTR(&v) = SysAllocString(text);
  }
  explicit Var(LONG n) : Var() {
    V_VT(&v) = VT_I4;
    V_I4(&v) = n;
  }
  explicit Var(double n) : Var() {
    V_VT(&v) = VT_R8;
    V_R8(&v) = n;
  }
  ~Var() { VariantClear(&v); }
  Var(const Var&) = delete;
  Var& operator=(const Var&) = delete;
  std::wstring text() const {
    return V_VT(&v) == VT_BSTR ? std::wstring(V_BSTR(&v), SysStringLen(V_BSTR(&v)))
                               : L"<not a string>";
  }
  VARIANT v;
};

class ComServerTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
  static void TearDownTestSuite() { CoUninitialize(); }

  void SetUp() override {
    ASSERT_EQ(DllGetClassObject(Clsid(), IID_IClassFactory, factory_.out()), S_OK);
    ASSERT_EQ(factory_->CreateInstance(nullptr, IID_IDispatch, control_.out()), S_OK);
  }

  DISPID Id(const wchar_t* name) {
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    DISPID id = 0;
    EXPECT_EQ(control_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), S_OK) << name;
    return id;
  }

  // A method call with |args| in declaration order.
  HRESULT Call(const wchar_t* name, std::initializer_list<VARIANT*> args, Var* result,
               UINT* arg_error = nullptr) {
    std::vector<VARIANT> reversed(args.size());
    std::size_t i = args.size();
    for (VARIANT* a : args) reversed[--i] = *a;
    DISPPARAMS params = {reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
    return control_->Invoke(Id(name), IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params,
                            result != nullptr ? &result->v : nullptr, nullptr, arg_error);
  }

  HRESULT Get(const wchar_t* name, Var* result) {
    DISPPARAMS params = {nullptr, nullptr, 0, 0};
    return control_->Invoke(Id(name), IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &params,
                            &result->v, nullptr, nullptr);
  }

  HRESULT Put(const wchar_t* name, VARIANT* value) {
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params = {value, &named, 1, 1};
    return control_->Invoke(Id(name), IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &params,
                            nullptr, nullptr, nullptr);
  }

  Ref<IClassFactory> factory_;
  Ref<IDispatch> control_;
};

TEST_F(ComServerTest, FactoryServesOnlyItsClassAndRefusesAggregation) {
  Ref<IUnknown> other;
  EXPECT_EQ(DllGetClassObject(IID_IDispatch, IID_IClassFactory, other.out()),
            CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(other.get(), nullptr);
  Ref<IUnknown> aggregated;
  EXPECT_EQ(factory_->CreateInstance(control_.get(), IID_IUnknown, aggregated.out()),
            CLASS_E_NOAGGREGATION);
  EXPECT_EQ(aggregated.get(), nullptr);
  Ref<IUnknown> unknown;
  EXPECT_EQ(factory_->CreateInstance(nullptr, IID_IStream, unknown.out()), E_NOINTERFACE);
}

TEST_F(ComServerTest, NamesAreFoundInAnyCase) {
  EXPECT_EQ(Id(L"QMBase64Encode"), 0xd);
  EXPECT_EQ(Id(L"qmbase64encode"), 0xd);
  EXPECT_EQ(Id(L"ERRORNUM"), 0x3);
  EXPECT_EQ(Id(L"maxcompsize"), 0x4);

  LPOLESTR names[] = {const_cast<LPOLESTR>(L"QMNoSuchMember")};
  DISPID id = 0;
  EXPECT_EQ(control_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id),
            DISP_E_UNKNOWNNAME);
  EXPECT_EQ(id, DISPID_UNKNOWN);
  // Parameters have no DISPIDs of their own; the member still has its own.
  LPOLESTR with_param[] = {const_cast<LPOLESTR>(L"QMBase64Encode"),
                           const_cast<LPOLESTR>(L"base64ToBeEncodedText")};
  DISPID ids[2] = {0, 0};
  EXPECT_EQ(control_->GetIDsOfNames(IID_NULL, with_param, 2, LOCALE_USER_DEFAULT, ids),
            DISP_E_UNKNOWNNAME);
  EXPECT_EQ(ids[0], 0xd);
  EXPECT_EQ(ids[1], DISPID_UNKNOWN);
}

TEST_F(ComServerTest, MethodCallsReturnTheOutValue) {
  Var text(L"abc");
  Var encoded;
  ASSERT_EQ(Call(L"QMBase64Encode", {&text.v}, &encoded), S_OK);
  EXPECT_EQ(encoded.text(), L"YWJj\n");

  Var decoded;
  ASSERT_EQ(Call(L"QMBase64Decode", {&encoded.v}, &decoded), S_OK);
  EXPECT_EQ(decoded.text(), L"abc");

  // A method and a property get arrive together from script engines.
  Var version;
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  ASSERT_EQ(
      control_->Invoke(Id(L"getVersion"), IID_NULL, LOCALE_USER_DEFAULT,
                       DISPATCH_METHOD | DISPATCH_PROPERTYGET, &none, &version.v, nullptr, nullptr),
      S_OK);
  EXPECT_EQ(version.text(), L"2.1.0.0");
}

TEST_F(ComServerTest, PropertiesGetAndPutWithScriptNumbers) {
  Var size(102400.0);  // a script number arrives as a double
  ASSERT_EQ(Put(L"MaxCompSize", &size.v), S_OK);
  Var got;
  ASSERT_EQ(Get(L"MaxCompSize", &got), S_OK);
  ASSERT_EQ(V_VT(&got.v), VT_I4);
  EXPECT_EQ(V_I4(&got.v), 102400);

  Var text_number(L"2048");
  ASSERT_EQ(Put(L"MaxCompSize", &text_number.v), S_OK);
  Var got_again;
  ASSERT_EQ(Get(L"MaxCompSize", &got_again), S_OK);
  EXPECT_EQ(V_I4(&got_again.v), 2048);

  Var error;
  ASSERT_EQ(Get(L"errorNum", &error), S_OK);
  ASSERT_EQ(V_VT(&error.v), VT_I4);
  EXPECT_EQ(V_I4(&error.v), 0);
}

TEST_F(ComServerTest, DispatchErrorsComeFromTheDispatchLayer) {
  Var five(5L);
  EXPECT_EQ(Put(L"errorNum", &five.v), DISP_E_MEMBERNOTFOUND);

  Var none;
  EXPECT_EQ(Call(L"QMBase64Encode", {}, &none), DISP_E_BADPARAMCOUNT);
  // A call with more arguments than any member takes is refused before its
  // arguments are read: these could not be (a TYPEMISMATCH otherwise).
  std::vector<VARIANT> many(17);
  for (VARIANT& v : many) {
    VariantInit(&v);
    V_VT(&v) = VT_DISPATCH;
    V_DISPATCH(&v) = nullptr;
  }
  DISPPARAMS too_many = {many.data(), nullptr, static_cast<UINT>(many.size()), 0};
  EXPECT_EQ(control_->Invoke(Id(L"QMSetDialogPrompt"), IID_NULL, LOCALE_USER_DEFAULT,
                             DISPATCH_METHOD, &too_many, &none.v, nullptr, nullptr),
            DISP_E_BADPARAMCOUNT);

  Var fraction(1.5);
  Var unused;
  UINT arg_error = 99;
  EXPECT_EQ(Call(L"QMSetCodePage", {&fraction.v}, &unused, &arg_error), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(arg_error, 0u);

  Var not_a_number(L"12ab");
  UINT second = 99;
  EXPECT_EQ(Call(L"QMGetSignerCertInfo", {&not_a_number.v}, &unused, &second), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(second, 0u);

  DISPPARAMS params = {nullptr, nullptr, 0, 0};
  EXPECT_EQ(control_->Invoke(0x5, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &params,
                             &unused.v, nullptr, nullptr),
            DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(control_->Invoke(0xd, IID_IDispatch, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params,
                             &unused.v, nullptr, nullptr),
            DISP_E_UNKNOWNINTERFACE);
}

TEST(ComServerModuleTest, CanUnloadOnlyWhenNothingIsHeld) {
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  EXPECT_EQ(DllCanUnloadNow(), S_OK);
  {
    Ref<IClassFactory> factory;
    ASSERT_EQ(DllGetClassObject(Clsid(), IID_IClassFactory, factory.out()), S_OK);
    EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
    Ref<IDispatch> control;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, control.out()), S_OK);
    ASSERT_EQ(factory->LockServer(TRUE), S_OK);
    factory.reset();
    EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
    control.reset();
    EXPECT_EQ(DllCanUnloadNow(), S_FALSE);  // the lock is still held

    ASSERT_EQ(DllGetClassObject(Clsid(), IID_IClassFactory, factory.out()), S_OK);
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    EXPECT_EQ(factory->LockServer(FALSE), E_UNEXPECTED);
  }
  EXPECT_EQ(DllCanUnloadNow(), S_OK);
  CoUninitialize();
}

TEST_F(ComServerTest, DeclaresItselfSafeForScripting) {
  Ref<IObjectSafety> safety;
  ASSERT_EQ(control_->QueryInterface(IID_IObjectSafety, safety.out()), S_OK);
  DWORD supported = 0;
  DWORD enabled = 99;
  ASSERT_EQ(safety->GetInterfaceSafetyOptions(IID_IDispatch, &supported, &enabled), S_OK);
  EXPECT_EQ(supported, 3u);
  EXPECT_EQ(enabled, 0u);
  ASSERT_EQ(safety->SetInterfaceSafetyOptions(IID_IDispatch, 3, 3), S_OK);
  ASSERT_EQ(safety->GetInterfaceSafetyOptions(IID_IPersistPropertyBag, &supported, &enabled), S_OK);
  EXPECT_EQ(enabled, 3u);
  EXPECT_EQ(safety->SetInterfaceSafetyOptions(IID_IDispatch, 4, 4), E_FAIL);
  EXPECT_EQ(safety->GetInterfaceSafetyOptions(IID_IStream, &supported, &enabled), E_NOINTERFACE);
}

// The embedded type library names every member of the table with its
// DISPID and kind: scripts that bind through it see what dispatch serves.
TEST_F(ComServerTest, TypeInfoListsEveryMemberWithItsDispid) {
  UINT count = 0;
  ASSERT_EQ(control_->GetTypeInfoCount(&count), S_OK);
  EXPECT_EQ(count, 1u);
  Ref<ITypeInfo> info;
  ASSERT_EQ(
      control_->GetTypeInfo(0, LOCALE_USER_DEFAULT, reinterpret_cast<ITypeInfo**>(info.out())),
      S_OK);
  TYPEATTR* attr = nullptr;
  ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
  EXPECT_EQ(attr->guid, Iid());
  const TYPEKIND type_kind = attr->typekind;
  const bool dual = (attr->wTypeFlags & TYPEFLAG_FDUAL) != 0;
  info->ReleaseTypeAttr(attr);
  EXPECT_TRUE(dual);
  // The vtable half of the dual interface lists the members declared in it,
  // without those of IDispatch.
  Ref<ITypeInfo> members;
  if (type_kind == TKIND_DISPATCH) {
    HREFTYPE ref = 0;
    ASSERT_EQ(info->GetRefTypeOfImplType(static_cast<UINT>(-1), &ref), S_OK);
    ASSERT_EQ(info->GetRefTypeInfo(ref, reinterpret_cast<ITypeInfo**>(members.out())), S_OK);
  } else {
    ASSERT_EQ(info->QueryInterface(IID_ITypeInfo, members.out()), S_OK);
  }
  ASSERT_EQ(members->GetTypeAttr(&attr), S_OK);
  const WORD funcs = attr->cFuncs;
  members->ReleaseTypeAttr(attr);
  EXPECT_EQ(funcs, kMemberCount);

  std::map<std::pair<std::wstring, INVOKEKIND>, MEMBERID> found;
  for (WORD i = 0; i < funcs; ++i) {
    FUNCDESC* desc = nullptr;
    ASSERT_EQ(members->GetFuncDesc(i, &desc), S_OK) << i;
    BSTR name = nullptr;
    ASSERT_EQ(members->GetDocumentation(desc->memid, &name, nullptr, nullptr, nullptr), S_OK);
    found[{std::wstring(name, SysStringLen(name)), desc->invkind}] = desc->memid;
    SysFreeString(name);
    members->ReleaseFuncDesc(desc);
  }
  std::size_t rows = 0;
  for (const MemberInfo& m : TypeLibraryMembers()) {
    const std::wstring name(m.name.begin(), m.name.end());
    const INVOKEKIND kind = m.kind == MemberKind::kMethod    ? INVOKE_FUNC
                            : m.kind == MemberKind::kPropGet ? INVOKE_PROPERTYGET
                                                             : INVOKE_PROPERTYPUT;
    auto it = found.find({name, kind});
    ASSERT_NE(it, found.end()) << m.name;
    EXPECT_EQ(it->second, m.dispid) << m.name;
    ++rows;
  }
  EXPECT_EQ(rows, kMemberCount);

  MEMBERID id = 0;
  LPOLESTR lookup[] = {const_cast<LPOLESTR>(L"QMAttachedSign")};
  ASSERT_EQ(info->GetIDsOfNames(lookup, 1, &id), S_OK);
  EXPECT_EQ(id, 0xa);
}

TEST_F(ComServerTest, ClassInfoNamesTheCoclassAndItsEvents) {
  Ref<IProvideClassInfo2> class_info;
  ASSERT_EQ(control_->QueryInterface(IID_IProvideClassInfo2, class_info.out()), S_OK);
  GUID events = GUID_NULL;
  ASSERT_EQ(class_info->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &events), S_OK);
  EXPECT_EQ(events, EventsDiid());
  Ref<ITypeInfo> coclass;
  ASSERT_EQ(class_info->GetClassInfo(reinterpret_cast<ITypeInfo**>(coclass.out())), S_OK);
  TYPEATTR* attr = nullptr;
  ASSERT_EQ(coclass->GetTypeAttr(&attr), S_OK);
  EXPECT_EQ(attr->typekind, TKIND_COCLASS);
  EXPECT_EQ(attr->guid, Clsid());
  coclass->ReleaseTypeAttr(attr);
}

TEST_F(ComServerTest, ExtentSurvivesAStreamButNotABadOne) {
  Ref<IOleObject> ole;
  ASSERT_EQ(control_->QueryInterface(IID_IOleObject, ole.out()), S_OK);
  SIZEL size = {5000, 1234};
  ASSERT_EQ(ole->SetExtent(DVASPECT_CONTENT, &size), S_OK);
  SIZEL too_big = {20000000, 10};
  EXPECT_EQ(ole->SetExtent(DVASPECT_CONTENT, &too_big), E_INVALIDARG);
  DWORD misc = 0;
  ASSERT_EQ(ole->GetMiscStatus(DVASPECT_CONTENT, &misc), S_OK);
  EXPECT_EQ(misc, 131473u);

  Ref<IPersistStreamInit> persist;
  ASSERT_EQ(control_->QueryInterface(IID_IPersistStreamInit, persist.out()), S_OK);
  EXPECT_EQ(persist->IsDirty(), S_OK);
  Ref<IStream> stream;
  ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, reinterpret_cast<IStream**>(stream.out())), S_OK);
  ASSERT_EQ(persist->Save(stream.get(), TRUE), S_OK);
  EXPECT_EQ(persist->IsDirty(), S_FALSE);

  Ref<IPersistStreamInit> fresh;
  ASSERT_EQ(factory_->CreateInstance(nullptr, IID_IPersistStreamInit, fresh.out()), S_OK);
  LARGE_INTEGER start = {};
  ASSERT_EQ(stream->Seek(start, STREAM_SEEK_SET, nullptr), S_OK);
  ASSERT_EQ(fresh->Load(stream.get()), S_OK);
  Ref<IOleObject> fresh_ole;
  ASSERT_EQ(fresh->QueryInterface(IID_IOleObject, fresh_ole.out()), S_OK);
  SIZEL loaded = {};
  ASSERT_EQ(fresh_ole->GetExtent(DVASPECT_CONTENT, &loaded), S_OK);
  EXPECT_EQ(loaded.cx, 5000);
  EXPECT_EQ(loaded.cy, 1234);

  // Four bytes are not an extent; the one held stays.
  Ref<IStream> short_stream;
  ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, reinterpret_cast<IStream**>(short_stream.out())),
            S_OK);
  ULONG written = 0;
  ASSERT_EQ(short_stream->Write("\x01\x02\x03\x04", 4, &written), S_OK);
  ASSERT_EQ(short_stream->Seek(start, STREAM_SEEK_SET, nullptr), S_OK);
  EXPECT_EQ(fresh->Load(short_stream.get()), E_FAIL);
  ASSERT_EQ(fresh_ole->GetExtent(DVASPECT_CONTENT, &loaded), S_OK);
  EXPECT_EQ(loaded.cx, 5000);
}

// A property bag over a map, as a page container keeps <param> values. Its
// methods answer with the system's HRESULT (long), not the table's.
// It lives on the stack and is never destroyed through the interface.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
class MapPropertyBag final : public IPropertyBag {
 public:
  ::HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (iid != IID_IUnknown && iid != IID_IPropertyBag) return E_NOINTERFACE;
    *object = static_cast<IPropertyBag*>(this);
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  ::HRESULT STDMETHODCALLTYPE Read(LPCOLESTR name, VARIANT* value, IErrorLog*) override {
    auto it = values_.find(name);
    if (it == values_.end()) return E_INVALIDARG;
    return VariantCopy(value, &it->second.v);
  }
  ::HRESULT STDMETHODCALLTYPE Write(LPCOLESTR name, VARIANT* value) override {
    return VariantCopy(&values_[name].v, value);
  }
  std::map<std::wstring, Var> values_;
};
#pragma GCC diagnostic pop

TEST_F(ComServerTest, ExtentSurvivesAPropertyBag) {
  Ref<IPersistPropertyBag> persist;
  ASSERT_EQ(control_->QueryInterface(IID_IPersistPropertyBag, persist.out()), S_OK);
  Ref<IOleObject> ole;
  ASSERT_EQ(control_->QueryInterface(IID_IOleObject, ole.out()), S_OK);
  SIZEL size = {3000, 700};
  ASSERT_EQ(ole->SetExtent(DVASPECT_CONTENT, &size), S_OK);
  MapPropertyBag bag;
  ASSERT_EQ(persist->Save(&bag, TRUE, TRUE), S_OK);
  ASSERT_EQ(bag.values_.size(), 2u);
  EXPECT_EQ(V_VT(&bag.values_[L"_cx"].v), VT_I4);
  EXPECT_EQ(V_I4(&bag.values_[L"_cx"].v), 3000);
  EXPECT_EQ(V_I4(&bag.values_[L"_cy"].v), 700);

  // A page's <param> values arrive as text.
  MapPropertyBag page;
  V_VT(&page.values_[L"_cx"].v) = VT_BSTR;
  V_BSTR(&page.values_[L"_cx"].v) = SysAllocString(L" 4000 ");
  V_VT(&page.values_[L"_cy"].v) = VT_BSTR;
  V_BSTR(&page.values_[L"_cy"].v) = SysAllocString(L"900");
  ASSERT_EQ(persist->Load(&page, nullptr), S_OK);
  SIZEL loaded = {};
  ASSERT_EQ(ole->GetExtent(DVASPECT_CONTENT, &loaded), S_OK);
  EXPECT_EQ(loaded.cx, 4000);
  EXPECT_EQ(loaded.cy, 900);

  // One bad value and nothing changes.
  MapPropertyBag bad;
  V_VT(&bad.values_[L"_cx"].v) = VT_I4;
  V_I4(&bad.values_[L"_cx"].v) = 10;
  V_VT(&bad.values_[L"_cy"].v) = VT_BSTR;
  V_BSTR(&bad.values_[L"_cy"].v) = SysAllocString(L"-5");
  EXPECT_EQ(persist->Load(&bad, nullptr), E_INVALIDARG);
  ASSERT_EQ(ole->GetExtent(DVASPECT_CONTENT, &loaded), S_OK);
  EXPECT_EQ(loaded.cx, 4000);
  EXPECT_EQ(loaded.cy, 900);
}

TEST_F(ComServerTest, OffersOnlyThePropertyNotifyConnectionPoint) {
  Ref<IConnectionPointContainer> container;
  ASSERT_EQ(control_->QueryInterface(IID_IConnectionPointContainer, container.out()), S_OK);
  Ref<IConnectionPoint> point;
  ASSERT_EQ(container->FindConnectionPoint(IID_IPropertyNotifySink,
                                           reinterpret_cast<IConnectionPoint**>(point.out())),
            S_OK);
  IID iid = IID_NULL;
  ASSERT_EQ(point->GetConnectionInterface(&iid), S_OK);
  EXPECT_EQ(iid, IID_IPropertyNotifySink);
  EXPECT_EQ(point->Unadvise(12345), CONNECT_E_NOCONNECTION);
  Ref<IConnectionPoint> events;
  EXPECT_EQ(container->FindConnectionPoint(EventsDiid(),
                                           reinterpret_cast<IConnectionPoint**>(events.out())),
            CONNECT_E_NOCONNECTION);
}

TEST_F(ComServerTest, QuickActivationAnswersTheMiscStatus) {
  Ref<IQuickActivate> quick;
  ASSERT_EQ(control_->QueryInterface(IID_IQuickActivate, quick.out()), S_OK);
  QACONTAINER container = {};
  container.cbSize = sizeof container;
  QACONTROL answer = {};
  answer.cbSize = sizeof answer;
  ASSERT_EQ(quick->QuickActivate(&container, &answer), S_OK);
  EXPECT_EQ(answer.dwMiscStatus, 131473u);
  EXPECT_EQ(answer.dwPropNotifyCookie, 0u);

  QACONTROL too_small = {};
  too_small.cbSize = 8;
  EXPECT_EQ(quick->QuickActivate(&container, &too_small), E_INVALIDARG);
  SIZEL content = {1200, 300};
  ASSERT_EQ(quick->SetContentExtent(&content), S_OK);
  SIZEL got = {};
  ASSERT_EQ(quick->GetContentExtent(&got), S_OK);
  EXPECT_EQ(got.cx, 1200);
  EXPECT_EQ(got.cy, 300);
}

// Draw paints the frame and the welcome text into the host's rectangle.
TEST_F(ComServerTest, DrawPaintsInsideTheBounds) {
  Ref<IViewObject2> view;
  ASSERT_EQ(control_->QueryInterface(IID_IViewObject2, view.out()), S_OK);
  // A memory bitmap: no display is needed.
  HDC dc = CreateCompatibleDC(nullptr);
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = 400;
  info.bmiHeader.biHeight = 100;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  ASSERT_NE(bitmap, nullptr);
  HGDIOBJ old = SelectObject(dc, bitmap);
  RECT all = {0, 0, 400, 100};
  FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  RECTL bounds = {10, 10, 390, 90};
  ASSERT_EQ(
      view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, dc, &bounds, nullptr, nullptr, 0),
      S_OK);
  EXPECT_NE(GetPixel(dc, 10, 50) & 0xFFFFFF, 0xFFFFFFu);  // the frame
  EXPECT_EQ(GetPixel(dc, 5, 50) & 0xFFFFFF, 0xFFFFFFu);   // outside it
  int inked = 0;                                          // the text above the middle line
  for (int x = 100; x < 300; ++x) {
    for (int y = 38; y < 50; ++y) inked += (GetPixel(dc, x, y) & 0xFFFFFF) != 0xFFFFFF;
  }
  EXPECT_GT(inked, 20);
  EXPECT_EQ(
      view->Draw(DVASPECT_ICON, -1, nullptr, nullptr, nullptr, dc, &bounds, nullptr, nullptr, 0),
      DV_E_DVASPECT);
  SelectObject(dc, old);
  DeleteObject(bitmap);
  DeleteDC(dc);
}

// quillmark.dll itself, as regsvr32 and a script host load it: the type
// library in its resources is the one the IDL and the registration name, for
// the module's own bitness, and holds the class and both interfaces.
TEST(ComServerDllTest, EmbeddedTypeLibraryHasTheLibraryIdentity) {
  std::wstring path(MAX_PATH, L'\0');
  path.resize(GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
  path.resize(path.find_last_of(L"\\/") + 1);
  path += L"quillmark.dll";
  Ref<ITypeLib> library;
  ASSERT_EQ(LoadTypeLibEx(path.c_str(), REGKIND_NONE, reinterpret_cast<ITypeLib**>(library.out())),
            S_OK);
  TLIBATTR* attr = nullptr;
  ASSERT_EQ(library->GetLibAttr(&attr), S_OK);
  GUID libid;
  static_assert(sizeof libid == sizeof control::kLibidLydraQuillmark);
  std::memcpy(&libid, &control::kLibidLydraQuillmark, sizeof libid);
  EXPECT_TRUE(IsEqualGUID(attr->guid, libid));
  EXPECT_EQ(attr->wMajorVerNum, 1);
  EXPECT_EQ(attr->wMinorVerNum, 0);
  EXPECT_EQ(attr->syskind, sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32);
  library->ReleaseTLibAttr(attr);

  const std::pair<const GUID*, TYPEKIND> types[] = {
      {&Clsid(), TKIND_COCLASS}, {&Iid(), TKIND_DISPATCH}, {&EventsDiid(), TKIND_DISPATCH}};
  for (const auto& [guid, kind] : types) {
    Ref<ITypeInfo> info;
    ASSERT_EQ(library->GetTypeInfoOfGuid(*guid, reinterpret_cast<ITypeInfo**>(info.out())), S_OK);
    TYPEATTR* type = nullptr;
    ASSERT_EQ(info->GetTypeAttr(&type), S_OK);
    EXPECT_EQ(type->typekind, kind);
    info->ReleaseTypeAttr(type);
  }
}

}  // namespace
}  // namespace quillmark::com
