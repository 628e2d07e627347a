// The frame every automation member follows, so that a member reads like its
// algorithm: check and convert in order, call one operation, and on the first
// failing step leave through one exit that cleans up and stores the step's
// number and message.
//
//   HRESULT CCorvaneQuillmark::QMSomething(std::u16string_view in, std::u16string* pVal) {
//     MethodFrame frame(&settings_.error, pVal);
//     auto clear_signer = [this] { settings_.signer_info.Clear(); };
//     frame.OnFailure(clear_signer);
//     return frame.Run([&] {
//       if (in.empty()) return frame.Fail(kErrEmptyInput, Message::kSourceEmpty);
//       ...
//       return frame.Succeed(std::move(text));
//     });
//   }
//
// Fail makes the out string empty, runs the member's clean-up, sets errorNum
// and errMsg (errMsg is kept for Message::kNone) and returns S_FALSE. Succeed
// clears errorNum and errMsg (errorCode is kept) and returns S_OK. Run turns
// a std::bad_alloc (or std::length_error) thrown by any step into
// kErrNoMemory with the member's out-of-memory message, so no exception
// leaves a member. Temporaries are RAII values of the member and go with it
// on every path.
#ifndef QUILLMARK_CONTROL_METHOD_FRAME_H_
#define QUILLMARK_CONTROL_METHOD_FRAME_H_

#include <cstdint>
#include <new>
#include <stdexcept>
#include <string>
#include <utility>

#include "common/status.h"
#include "control/error_state.h"
#include "control/messages.h"
#include "control/quillmark_interface.h"

namespace quillmark::control {

class MethodFrame {
 public:
  // |out| is the member's out string, or null for a member without one.
  MethodFrame(ErrorState* error, std::u16string* out) : error_(error), out_(out) {}
  MethodFrame(const MethodFrame&) = delete;
  MethodFrame& operator=(const MethodFrame&) = delete;

  // The member's clean-up on failure; |cleanup| must outlive the frame and
  // must not throw.
  template <typename F>
  void OnFailure(F& cleanup) {
    cleanup_context_ = &cleanup;
    cleanup_ = [](void* context) { (*static_cast<F*>(context))(); };
  }

  // The message for kErrNoMemory when a step runs out of memory.
  void set_no_memory_message(Message message) { no_memory_message_ = message; }

  HRESULT Fail(int number, Message message) noexcept {
    if (out_ != nullptr) out_->clear();
    if (cleanup_ != nullptr) cleanup_(cleanup_context_);
    error_->Fail(number, message);
    return S_FALSE;
  }

  // A failure told by errMsg and the status alone: errorNum keeps its value.
  HRESULT FailKeepingNumber(Message message) noexcept { return Fail(error_->error_num, message); }

  // A failed engine operation: its error number and its platform code.
  HRESULT FailWith(const Status& status, Message message) noexcept {
    error_->error_code = static_cast<std::int32_t>(status.platform_code());
    return Fail(status.number(), message);
  }

  HRESULT Succeed() noexcept {
    error_->Clear();
    return S_OK;
  }

  HRESULT Succeed(std::u16string text) noexcept {
    if (out_ != nullptr) *out_ = std::move(text);
    return Succeed();
  }

  template <typename Body>
  HRESULT Run(Body&& body) noexcept {
    try {
      return std::forward<Body>(body)();
    } catch (const std::bad_alloc&) {
      return Fail(kErrNoMemory, no_memory_message_);
    } catch (const std::length_error&) {  // a size no allocation could serve
      return Fail(kErrNoMemory, no_memory_message_);
    }
  }

 private:
  ErrorState* error_;
  std::u16string* out_;
  void* cleanup_context_ = nullptr;
  void (*cleanup_)(void*) = nullptr;
  Message no_memory_message_ = Message::kNoMemory;
};

}  // namespace quillmark::control

#endif  // QUILLMARK_CONTROL_METHOD_FRAME_H_
