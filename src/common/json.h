// A small JSON reader and writer for line-oriented protocols.
//
// The reader is strict (RFC 8259): one value, optional white space around
// it, nothing else. Strings must be valid UTF-8 and are decoded to UTF-16;
// \u escapes may name lone surrogates, which are kept as they are (a pair of
// escapes that forms a surrogate pair joins into one character, as in
// UTF-16). Numbers without fraction or exponent that fit a 64-bit signed
// integer are integers, the others doubles; numbers beyond the double range
// (or too close to zero to tell from it) are refused. Objects keep their members in order and
// refuse a name that occurs twice. Nesting deeper than kMaxDepth is refused, so no input can
// exhaust the stack, and a document of more than kMaxValues values (every member value and
// array item counts, and the outermost value) is refused, so memory stays in proportion to a
// bounded count. Parsing takes O(n log n) time in the input length whatever the input: the
// duplicate-name check is an ordered lookup, never a scan of the members seen so far.
// Parse never throws except std::bad_alloc.
//
// The writer builds one line of compact JSON. UTF-16 strings are written as
// UTF-8, with lone surrogates as \uD800-style escapes, so that a string read
// by Parse is written back unchanged. Commas are placed by the writer.
//
//   Writer w;
//   w.BeginObject();
//   w.Key("hr");
//   w.Int(0);
//   w.Key("result");
//   w.String(u"text");
//   w.EndObject();
//   std::string line = w.Take();   // {"hr":0,"result":"text"}
#ifndef QUILLMARK_COMMON_JSON_H_
#define QUILLMARK_COMMON_JSON_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quillmark::json {

inline constexpr int kMaxDepth = 64;
inline constexpr std::size_t kMaxValues = 500'000;

class Value {
 public:
  enum class Type { kNull, kBool, kInt, kDouble, kString, kArray, kObject };
  using Member = std::pair<std::u16string, Value>;

  Type type() const { return type_; }
  bool is_null() const { return type_ == Type::kNull; }
  bool is_bool() const { return type_ == Type::kBool; }
  bool is_int() const { return type_ == Type::kInt; }
  bool is_double() const { return type_ == Type::kDouble; }
  bool is_number() const { return is_int() || is_double(); }
  bool is_string() const { return type_ == Type::kString; }
  bool is_array() const { return type_ == Type::kArray; }
  bool is_object() const { return type_ == Type::kObject; }

  bool boolean() const { return bool_; }
  std::int64_t integer() const { return int_; }
  double number() const { return is_int() ? static_cast<double>(int_) : double_; }
  const std::u16string& string() const { return string_; }
  const std::vector<Value>& array() const { return array_; }
  const std::vector<Member>& object() const { return object_; }

  // The member named |name| of an object, or null.
  const Value* Find(std::u16string_view name) const;

  static Value Null() { return Value(); }
  static Value Bool(bool b);
  static Value Int(std::int64_t i);
  static Value Double(double d);
  static Value String(std::u16string s);
  static Value Array(std::vector<Value> items);
  static Value Object(std::vector<Member> members);

 private:
  Type type_ = Type::kNull;
  bool bool_ = false;
  std::int64_t int_ = 0;
  double double_ = 0;
  std::u16string string_;
  std::vector<Value> array_;
  std::vector<Member> object_;
};

// Parses |text| as one JSON value. On failure returns false and sets |error|
// to a short description with the byte offset; |out| is then unspecified.
bool Parse(std::string_view text, Value* out, std::string* error);

class Writer {
 public:
  void BeginObject();
  void EndObject();
  void BeginArray();
  void EndArray();
  // An object member's name (ASCII or UTF-8).
  void Key(std::string_view name);
  void String(std::u16string_view text);
  void StringUtf8(std::string_view text);  // |text| must be valid UTF-8
  void Int(std::int64_t value);
  void UInt(std::uint64_t value);
  void Bool(bool value);
  void Null();
  // Writes |value| as it was parsed.
  void WriteValue(const Value& value);

  const std::string& text() const { return out_; }
  std::string Take();

 private:
  void BeforeValue();

  std::string out_;
  // Per open container: whether a comma is due before the next item.
  std::vector<bool> need_comma_;
  bool after_key_ = false;
};

// |text| as a JSON string literal, quotes included.
std::string Quote(std::u16string_view text);

}  // namespace quillmark::json

#endif  // QUILLMARK_COMMON_JSON_H_
