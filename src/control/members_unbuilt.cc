// Members whose engines (signing, verification, envelopes and digests) are
// not part of this build yet. They answer E_NOTIMPL and change nothing; the
// type library lists them as not built, so the dispatch layer does not call
// them.
#include "control/quillmark_control.h"

namespace quillmark::control {

HRESULT CCorvaneQuillmark::QMAdvanceAttachedSign(std::u16string_view, std::u16string*) {
  return E_NOTIMPL;
}

HRESULT CCorvaneQuillmark::QMAdvanceAttachedVerify(std::u16string_view) { return E_NOTIMPL; }

HRESULT CCorvaneQuillmark::QMUseSpecAdvanceAttachedSign(std::u16string_view, std::u16string*) {
  return E_NOTIMPL;
}

HRESULT CCorvaneQuillmark::QMAdvanceDetachedSign(std::u16string_view, std::u16string_view,
                                                 std::u16string*) {
  return E_NOTIMPL;
}

HRESULT CCorvaneQuillmark::QMUseSpecAdvanceDetachedSign(std::u16string_view, std::u16string_view,
                                                        std::u16string*) {
  return E_NOTIMPL;
}

HRESULT CCorvaneQuillmark::QMAdvanceDetachedVerify(std::u16string_view, std::u16string_view) {
  return E_NOTIMPL;
}

}  // namespace quillmark::control
