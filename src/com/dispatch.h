// Late-bound calls into ILydraCorvaneQuillmark, driven by the type library.
//
// GetIDsOfNames turns a member name (any letter case) into its DISPID;
// Invoke calls the member with that DISPID and kind, coercing each argument
// to the parameter's type (variant.h). The errors of this layer are its own
// and never reach the control:
//
//   DISP_E_UNKNOWNNAME    no member has the name
//   DISP_E_MEMBERNOTFOUND no member has the DISPID, or not with that kind
//                         (e.g. a put of a property that is only read)
//   DISP_E_BADPARAMCOUNT  the number of arguments is not the number of the
//                         member's in parameters (the out, retval parameter
//                         is never passed)
//   DISP_E_TYPEMISMATCH   an argument cannot be coerced; |arg_error| tells which
//
// Otherwise the member's own status is returned (S_OK or S_FALSE), and its
// out value, when it has one, is stored in |*result|; |*result| is left empty
// for members without one and for every error. Running out of memory while
// the arguments are copied throws std::bad_alloc to the caller: the session
// loop and the module's exports catch it.
//
//   Dispatcher d(control.get());
//   std::int32_t id;
//   if (Dispatcher::GetIDsOfNames(u"qmbase64encode", &id) == S_OK) {
//     Variant args[] = {Variant(u"abc")};
//     Variant out;
//     HRESULT hr = d.Invoke(id, MemberKind::kMethod, args, &out);
//   }
#ifndef QUILLMARK_COM_DISPATCH_H_
#define QUILLMARK_COM_DISPATCH_H_

#include <cstdint>
#include <span>
#include <string_view>

#include "com/type_library.h"
#include "com/variant.h"
#include "control/quillmark_interface.h"

namespace quillmark::com {

using ::quillmark::control::HRESULT;
using ::quillmark::control::ILydraCorvaneQuillmark;

class Dispatcher {
 public:
  // |object| must outlive the dispatcher.
  explicit Dispatcher(ILydraCorvaneQuillmark* object) : object_(object) {}

  // The DISPID of the member named |name|, compared without regard to ASCII
  // letter case. The two accessors of a property share one DISPID.
  static HRESULT GetIDsOfNames(std::u16string_view name, std::int32_t* dispid);

  HRESULT Invoke(std::int32_t dispid, MemberKind kind, std::span<const Variant> args,
                 Variant* result, std::uint32_t* arg_error = nullptr);

 private:
  ILydraCorvaneQuillmark* object_;
};

}  // namespace quillmark::com

#endif  // QUILLMARK_COM_DISPATCH_H_
