// quillmark-echo-host: a native messaging host that speaks the browser's
// framing and the hello of quillmark-host but runs no control. It accepts any
// origin, then answers every request with a fixed session answer carrying the
// request's id (the answer QMBase64Encode("abc") gets from a control). The
// page round-trip benchmark measures it beside the real host, so the
// difference is the cost of the control and the session.
//
// Framing: a 32-bit length in native byte order, then that many bytes of
// JSON. End of input ends the program with status 0; a message over 64 MiB or
// cut short ends it with status 1.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "common/json.h"

namespace {

constexpr std::uint32_t kMaxRequest = 64u << 20;

// The next message, or none at end of input. Sets |*broken| when the input
// ends inside a message or announces one too long.
std::optional<std::string> ReadMessage(bool* broken) {
  std::uint32_t length = 0;
  std::size_t got = std::fread(&length, 1, sizeof length, stdin);
  if (got != sizeof length) {
    *broken = got != 0;
    return std::nullopt;
  }
  if (length > kMaxRequest) {
    *broken = true;
    return std::nullopt;
  }
  std::string text(length, '\0');
  if (std::fread(text.data(), 1, length, stdin) != length) {
    *broken = true;
    return std::nullopt;
  }
  return text;
}

bool WriteMessage(const std::string& text) {
  std::uint32_t length = static_cast<std::uint32_t>(text.size());
  return std::fwrite(&length, 1, sizeof length, stdout) == sizeof length &&
         std::fwrite(text.data(), 1, text.size(), stdout) == text.size() &&
         std::fflush(stdout) == 0;
}

std::string Hello(const quillmark::json::Value& hello) {
  quillmark::json::Writer w;
  w.BeginObject();
  w.Key("ready");
  w.Bool(true);
  w.Key("origin");
  const quillmark::json::Value* origin = hello.is_object() ? hello.Find(u"origin") : nullptr;
  if (origin != nullptr && origin->is_string()) {
    w.String(origin->string());
  } else {
    w.StringUtf8("");
  }
  w.EndObject();
  return w.Take();
}

std::string Answer(const quillmark::json::Value& request) {
  quillmark::json::Writer w;
  w.BeginObject();
  const quillmark::json::Value* id = request.is_object() ? request.Find(u"id") : nullptr;
  if (id != nullptr) {
    w.Key("id");
    w.WriteValue(*id);
  }
  w.Key("hr");
  w.Int(0);
  w.Key("result");
  w.StringUtf8("YWJj\n");
  w.Key("errorNum");
  w.Int(0);
  w.Key("errorCode");
  w.Int(0);
  w.Key("errMsg");
  w.StringUtf8("");
  w.Key("dialogs");
  w.BeginArray();
  w.EndArray();
  w.EndObject();
  return w.Take();
}

}  // namespace

int main() {
  bool broken = false;
  bool first = true;
  while (std::optional<std::string> message = ReadMessage(&broken)) {
    quillmark::json::Value value;
    std::string error;
    std::string answer;
    if (!quillmark::json::Parse(*message, &value, &error)) {
      answer = "{\"error\":" + quillmark::json::Quote(u"not JSON") + "}";
    } else {
      answer = first ? Hello(value) : Answer(value);
    }
    first = false;
    if (!WriteMessage(answer)) return 1;
  }
  return broken ? 1 : 0;
}
