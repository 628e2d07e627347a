// The JSON reader: any bytes either parse or give an error text; what parses
// is written back as JSON that parses again, and no input goes past the
// nesting or value limits.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "common/json.h"

namespace json = quillmark::json;

namespace {

// The depth of nested arrays and objects, and the number of values.
void Measure(const json::Value& v, int depth, int* max_depth, std::size_t* values) {
  ++*values;
  if (depth > *max_depth) *max_depth = depth;
  if (v.is_array()) {
    for (const json::Value& item : v.array()) Measure(item, depth + 1, max_depth, values);
  } else if (v.is_object()) {
    for (const json::Value::Member& m : v.object()) Measure(m.second, depth + 1, max_depth, values);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  json::Value value;
  std::string error;
  if (!json::Parse(text, &value, &error)) {
    if (error.empty()) std::abort();
    return 0;
  }
  int depth = 0;
  std::size_t values = 0;
  Measure(value, 0, &depth, &values);
  if (depth > json::kMaxDepth || values > json::kMaxValues) std::abort();

  // Written back it parses again, and from then on reads and writes agree
  // (one round may change a number's form: -0.0 is written "-0", which reads
  // as the integer 0).
  json::Writer writer;
  writer.WriteValue(value);
  const std::string first = writer.Take();
  json::Value again;
  if (!json::Parse(first, &again, &error)) std::abort();
  json::Writer rewriter;
  rewriter.WriteValue(again);
  const std::string second = rewriter.Take();
  json::Value third;
  if (!json::Parse(second, &third, &error)) std::abort();
  json::Writer last;
  last.WriteValue(third);
  if (last.Take() != second) std::abort();

  // Every member is found by its name, and names are unique.
  if (value.is_object()) {
    for (const json::Value::Member& m : value.object()) {
      if (value.Find(m.first) != &m.second) std::abort();
    }
  }
  return 0;
}
