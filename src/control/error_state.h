// The outcome of the last member call, as the page reads it through the
// errorNum, errorCode and errMsg properties.
//
// errorNum is 0 after a success and the failing step's negative number after
// a failure; errMsg is empty (absent) after a success and the member's fixed
// message after a failure; errorCode is the platform's error code of the last
// failed lower-level operation and survives later successes. A few members
// set errorNum without touching errMsg; Fail with Message::kNone does that.
#ifndef QUILLMARK_CONTROL_ERROR_STATE_H_
#define QUILLMARK_CONTROL_ERROR_STATE_H_

#include <cstdint>
#include <new>
#include <string>

#include "control/messages.h"

namespace quillmark::control {

struct ErrorState {
  std::int32_t error_num = 0;
  std::int32_t error_code = 0;
  std::u16string err_msg;  // empty: absent

  // Success: errorNum 0 and errMsg absent; errorCode is kept.
  void Clear() {
    error_num = 0;
    err_msg.clear();
  }

  // A failure with |number|; the message replaces errMsg unless it is kNone.
  // When memory runs out for the text, errMsg is left absent.
  void Fail(int number, Message message) {
    error_num = number;
    if (message == Message::kNone) return;
    try {
      err_msg = MessageText(message);
    } catch (const std::bad_alloc&) {
      err_msg.clear();
    }
  }
};

}  // namespace quillmark::control

#endif  // QUILLMARK_CONTROL_ERROR_STATE_H_
