#include "com/win/automation_class.h"

#include <cstring>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "com/class_factory.h"
#include "com/dispatch.h"
#include "com/variant.h"
#include "control/guids.h"

namespace quillmark::com {
namespace {

using platform::AutomationCall;
using platform::AutomationValue;

platform::AutomationGuid ToAutomationGuid(const Guid& guid) {
  platform::AutomationGuid out;
  static_assert(sizeof out == sizeof guid);
  std::memcpy(&out, &guid, sizeof out);
  return out;
}

Variant ToVariant(const AutomationValue& value) {
  switch (value.type) {
    case AutomationValue::Type::kEmpty:
      return Variant();
    case AutomationValue::Type::kInt32:
      return Variant(value.int32);
    case AutomationValue::Type::kUInt32:
      return Variant(value.uint32);
    case AutomationValue::Type::kString:
      return Variant(value.text);
  }
  return Variant();
}

AutomationValue ToAutomationValue(const Variant& value) {
  switch (value.type()) {
    case Variant::Type::kEmpty:
      return AutomationValue();
    case Variant::Type::kInt32:
      return AutomationValue::Int32(value.int32());
    case Variant::Type::kUInt32:
      return AutomationValue::UInt32(value.uint32());
    case Variant::Type::kString:
      return AutomationValue::String(value.string());
  }
  return AutomationValue();
}

MemberKind ToMemberKind(AutomationCall call) {
  switch (call) {
    case AutomationCall::kMethod:
      return MemberKind::kMethod;
    case AutomationCall::kPropertyGet:
      return MemberKind::kPropGet;
    case AutomationCall::kPropertyPut:
      return MemberKind::kPropPut;
  }
  return MemberKind::kMethod;
}

// One control made by the class factory (so the module counts it), called
// through the dispatcher.
class DispatchedControl final : public platform::AutomationObject {
 public:
  explicit DispatchedControl(ControlPtr control)
      : control_(std::move(control)), dispatcher_(control_.get()) {}

  std::int32_t Invoke(std::int32_t dispid, AutomationCall call,
                      std::span<const AutomationValue> args, AutomationValue* result,
                      std::uint32_t* arg_error) override {
    std::vector<Variant> values;
    values.reserve(args.size());
    for (const AutomationValue& arg : args) values.push_back(ToVariant(arg));
    Variant out;
    HRESULT hr = dispatcher_.Invoke(dispid, ToMemberKind(call), values, &out, arg_error);
    *result = ToAutomationValue(out);
    return hr;
  }

 private:
  ControlPtr control_;
  Dispatcher dispatcher_;
};

std::int32_t IdOfName(std::u16string_view name, std::int32_t* dispid) {
  return Dispatcher::GetIDsOfNames(name, dispid);
}

std::unique_ptr<platform::AutomationObject> Create() {
  ClassFactory factory;
  ControlPtr control;
  if (factory.CreateInstance(nullptr, control::kIidILydraCorvaneQuillmark, &control) != S_OK) {
    return nullptr;
  }
  return std::make_unique<DispatchedControl>(std::move(control));
}

}  // namespace

const platform::AutomationClass& QuillmarkAutomationClass() {
  static const platform::AutomationClass cls = {
      ToAutomationGuid(control::kClsidLydraCorvaneQuillmark),
      ToAutomationGuid(control::kIidILydraCorvaneQuillmark),
      ToAutomationGuid(control::kDiidILydraCorvaneQuillmarkEvents),
      ToAutomationGuid(control::kLibidLydraQuillmark),
      &IdOfName,
      &Create,
  };
  return cls;
}

}  // namespace quillmark::com
