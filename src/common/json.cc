#include "common/json.h"

#include <charconv>
#include <cmath>
#include <set>
#include <system_error>

#include "common/hex.h"
#include "common/unicode.h"

namespace quillmark::json {
namespace {

class Parser {
 public:
  explicit Parser(std::string_view text) : text_(text) {}

  bool ParseDocument(Value* out, std::string* error) {
    SkipSpace();
    if (!ParseValue(out, 0)) {
      *error = error_ + " at byte " + std::to_string(pos_);
      return false;
    }
    SkipSpace();
    if (pos_ != text_.size()) {
      *error = "unexpected text after the value at byte " + std::to_string(pos_);
      return false;
    }
    return true;
  }

 private:
  bool Fail(const char* what) {
    error_ = what;
    return false;
  }

  bool AtEnd() const { return pos_ >= text_.size(); }
  char Peek() const { return text_[pos_]; }

  void SkipSpace() {
    while (!AtEnd()) {
      char c = Peek();
      if (c != ' ' && c != '\t' && c != '\n' && c != '\r') break;
      ++pos_;
    }
  }

  bool Literal(std::string_view word) {
    if (text_.substr(pos_, word.size()) != word) return Fail("invalid literal");
    pos_ += word.size();
    return true;
  }

  bool ParseValue(Value* out, int depth) {
    if (AtEnd()) return Fail("unexpected end of input");
    if (++values_ > kMaxValues) return Fail("too many values");
    switch (Peek()) {
      case '{':
        return ParseObject(out, depth + 1);
      case '[':
        return ParseArray(out, depth + 1);
      case '"': {
        std::u16string s;
        if (!ParseString(&s)) return false;
        *out = Value::String(std::move(s));
        return true;
      }
      case 't':
        if (!Literal("true")) return false;
        *out = Value::Bool(true);
        return true;
      case 'f':
        if (!Literal("false")) return false;
        *out = Value::Bool(false);
        return true;
      case 'n':
        if (!Literal("null")) return false;
        *out = Value::Null();
        return true;
      default:
        return ParseNumber(out);
    }
  }

  bool ParseObject(Value* out, int depth) {
    if (depth > kMaxDepth) return Fail("nesting too deep");
    ++pos_;  // '{'
    std::vector<Value::Member> members;
    SkipSpace();
    if (!AtEnd() && Peek() == '}') {
      ++pos_;
      *out = Value::Object(std::move(members));
      return true;
    }
    // The names seen so far, as indices into |members| ordered by name: each
    // duplicate check costs a logarithmic number of comparisons, whatever
    // names the input chooses.
    auto by_name = [&members](std::size_t a, std::size_t b) {
      return members[a].first < members[b].first;
    };
    std::set<std::size_t, decltype(by_name)> names(by_name);
    for (;;) {
      SkipSpace();
      if (AtEnd() || Peek() != '"') return Fail("expected a member name");
      members.emplace_back();
      if (!ParseString(&members.back().first)) return false;
      if (!names.insert(members.size() - 1).second) return Fail("duplicate member name");
      SkipSpace();
      if (AtEnd() || Peek() != ':') return Fail("expected ':'");
      ++pos_;
      SkipSpace();
      if (!ParseValue(&members.back().second, depth)) return false;
      SkipSpace();
      if (AtEnd()) return Fail("unexpected end of input");
      if (Peek() == ',') {
        ++pos_;
        continue;
      }
      if (Peek() == '}') {
        ++pos_;
        *out = Value::Object(std::move(members));
        return true;
      }
      return Fail("expected ',' or '}'");
    }
  }

  bool ParseArray(Value* out, int depth) {
    if (depth > kMaxDepth) return Fail("nesting too deep");
    ++pos_;  // '['
    std::vector<Value> items;
    SkipSpace();
    if (!AtEnd() && Peek() == ']') {
      ++pos_;
      *out = Value::Array(std::move(items));
      return true;
    }
    for (;;) {
      SkipSpace();
      Value v;
      if (!ParseValue(&v, depth)) return false;
      items.push_back(std::move(v));
      SkipSpace();
      if (AtEnd()) return Fail("unexpected end of input");
      if (Peek() == ',') {
        ++pos_;
        continue;
      }
      if (Peek() == ']') {
        ++pos_;
        *out = Value::Array(std::move(items));
        return true;
      }
      return Fail("expected ',' or ']'");
    }
  }

  // One UTF-8 sequence starting at pos_, strictly: no overlong forms, no
  // surrogates, nothing above U+10FFFF.
  bool ParseUtf8(std::u16string* out) {
    const std::size_t start = pos_;
    char32_t cp = 0;
    if (!DecodeUtf8(text_, &pos_, &cp)) {
      pos_ = start;
      return Fail("invalid UTF-8");
    }
    AppendUtf16(cp, out);
    return true;
  }

  // The four digits after "\u": one UTF-16 unit, kept as it is (a lone
  // surrogate included).
  bool ParseUnicodeEscape(std::u16string* out) {
    if (text_.size() - pos_ < 4) return Fail("bad \\u escape");
    char16_t unit = 0;
    for (int i = 0; i < 4; ++i) {
      int d = HexDigitValue(static_cast<unsigned char>(text_[pos_ + i]));
      if (d < 0) return Fail("bad \\u escape");
      unit = static_cast<char16_t>((unit << 4) | d);
    }
    pos_ += 4;
    out->push_back(unit);
    return true;
  }

  // The escape after a backslash.
  bool ParseEscape(std::u16string* out) {
    if (AtEnd()) return Fail("unterminated string");
    char e = Peek();
    ++pos_;
    switch (e) {
      case '"':
      case '\\':
      case '/':
        out->push_back(static_cast<char16_t>(e));
        return true;
      case 'b':
        out->push_back(u'\b');
        return true;
      case 'f':
        out->push_back(u'\f');
        return true;
      case 'n':
        out->push_back(u'\n');
        return true;
      case 'r':
        out->push_back(u'\r');
        return true;
      case 't':
        out->push_back(u'\t');
        return true;
      case 'u':
        return ParseUnicodeEscape(out);
      default:
        --pos_;
        return Fail("bad escape");
    }
  }

  bool ParseString(std::u16string* out) {
    ++pos_;  // '"'
    for (;;) {
      if (AtEnd()) return Fail("unterminated string");
      unsigned char c = static_cast<unsigned char>(Peek());
      if (c == '"') {
        ++pos_;
        return true;
      }
      if (c < 0x20) return Fail("control character in string");
      if (c == '\\') {
        ++pos_;
        if (!ParseEscape(out)) return false;
      } else if (!ParseUtf8(out)) {
        return false;
      }
    }
  }

  bool ParseNumber(Value* out) {
    std::size_t start = pos_;
    bool integral = true;
    auto digit = [this] { return !AtEnd() && Peek() >= '0' && Peek() <= '9'; };
    if (!AtEnd() && Peek() == '-') ++pos_;
    if (!digit()) return Fail("invalid value");
    if (Peek() == '0') {
      ++pos_;
    } else {
      while (digit()) ++pos_;
    }
    if (!AtEnd() && Peek() == '.') {
      integral = false;
      ++pos_;
      if (!digit()) return Fail("invalid number");
      while (digit()) ++pos_;
    }
    if (!AtEnd() && (Peek() == 'e' || Peek() == 'E')) {
      integral = false;
      ++pos_;
      if (!AtEnd() && (Peek() == '+' || Peek() == '-')) ++pos_;
      if (!digit()) return Fail("invalid number");
      while (digit()) ++pos_;
    }
    const char* first = text_.data() + start;
    const char* last = text_.data() + pos_;
    if (integral) {
      std::int64_t i = 0;
      auto [ptr, ec] = std::from_chars(first, last, i);
      if (ec == std::errc() && ptr == last) {
        *out = Value::Int(i);
        return true;
      }
    }
    double d = 0;
    auto [ptr, ec] = std::from_chars(first, last, d);
    if (ec == std::errc::result_out_of_range) return Fail("number out of range");
    if (ec != std::errc() || ptr != last || !std::isfinite(d)) return Fail("invalid number");
    *out = Value::Double(d);
    return true;
  }

  std::string_view text_;
  std::size_t pos_ = 0;
  std::size_t values_ = 0;
  std::string error_;
};

void AppendHex4(std::string* out, unsigned value) {
  out->append("\\u");
  for (int shift = 12; shift >= 0; shift -= 4) {
    out->push_back(kHexDigitsUpper[(value >> shift) & 0xF]);
  }
}

// Escapes for the ASCII range; false when |c| needs none.
bool AppendAsciiEscape(std::string* out, unsigned c) {
  switch (c) {
    case '"':
      out->append("\\\"");
      return true;
    case '\\':
      out->append("\\\\");
      return true;
    case '\b':
      out->append("\\b");
      return true;
    case '\f':
      out->append("\\f");
      return true;
    case '\n':
      out->append("\\n");
      return true;
    case '\r':
      out->append("\\r");
      return true;
    case '\t':
      out->append("\\t");
      return true;
    default:
      if (c < 0x20) {
        AppendHex4(out, c);
        return true;
      }
      return false;
  }
}

void AppendQuoted(std::string* out, std::u16string_view text) {
  out->push_back('"');
  for (std::size_t i = 0; i < text.size();) {
    const char16_t unit = text[i];
    char32_t c;
    if (!DecodeUtf16(text, &i, &c)) {
      AppendHex4(out, unit);  // a lone surrogate
    } else if (c >= 0x80 || !AppendAsciiEscape(out, c)) {
      AppendUtf8(c, out);
    }
  }
  out->push_back('"');
}

void AppendQuotedUtf8(std::string* out, std::string_view text) {
  out->push_back('"');
  for (char ch : text) {
    if (!AppendAsciiEscape(out, static_cast<unsigned char>(ch))) out->push_back(ch);
  }
  out->push_back('"');
}

}  // namespace

const Value* Value::Find(std::u16string_view name) const {
  for (const Member& m : object_) {
    if (m.first == name) return &m.second;
  }
  return nullptr;
}

Value Value::Bool(bool b) {
  Value v;
  v.type_ = Type::kBool;
  v.bool_ = b;
  return v;
}

Value Value::Int(std::int64_t i) {
  Value v;
  v.type_ = Type::kInt;
  v.int_ = i;
  return v;
}

Value Value::Double(double d) {
  Value v;
  v.type_ = Type::kDouble;
  v.double_ = d;
  return v;
}

Value Value::String(std::u16string s) {
  Value v;
  v.type_ = Type::kString;
  v.string_ = std::move(s);
  return v;
}

Value Value::Array(std::vector<Value> items) {
  Value v;
  v.type_ = Type::kArray;
  v.array_ = std::move(items);
  return v;
}

Value Value::Object(std::vector<Member> members) {
  Value v;
  v.type_ = Type::kObject;
  v.object_ = std::move(members);
  return v;
}

bool Parse(std::string_view text, Value* out, std::string* error) {
  Parser parser(text);
  return parser.ParseDocument(out, error);
}

void Writer::BeforeValue() {
  if (after_key_) {
    after_key_ = false;
    return;
  }
  if (!need_comma_.empty()) {
    if (need_comma_.back()) out_.push_back(',');
    need_comma_.back() = true;
  }
}

void Writer::BeginObject() {
  BeforeValue();
  out_.push_back('{');
  need_comma_.push_back(false);
}

void Writer::EndObject() {
  out_.push_back('}');
  need_comma_.pop_back();
}

void Writer::BeginArray() {
  BeforeValue();
  out_.push_back('[');
  need_comma_.push_back(false);
}

void Writer::EndArray() {
  out_.push_back(']');
  need_comma_.pop_back();
}

void Writer::Key(std::string_view name) {
  BeforeValue();
  AppendQuotedUtf8(&out_, name);
  out_.push_back(':');
  after_key_ = true;
}

void Writer::String(std::u16string_view text) {
  BeforeValue();
  AppendQuoted(&out_, text);
}

void Writer::StringUtf8(std::string_view text) {
  BeforeValue();
  AppendQuotedUtf8(&out_, text);
}

void Writer::Int(std::int64_t value) {
  BeforeValue();
  out_.append(std::to_string(value));
}

void Writer::UInt(std::uint64_t value) {
  BeforeValue();
  out_.append(std::to_string(value));
}

void Writer::Bool(bool value) {
  BeforeValue();
  out_.append(value ? "true" : "false");
}

void Writer::Null() {
  BeforeValue();
  out_.append("null");
}

void Writer::WriteValue(const Value& value) {
  switch (value.type()) {
    case Value::Type::kNull:
      Null();
      break;
    case Value::Type::kBool:
      Bool(value.boolean());
      break;
    case Value::Type::kInt:
      Int(value.integer());
      break;
    case Value::Type::kDouble: {
      BeforeValue();
      char buffer[32];
      auto [ptr, ec] = std::to_chars(buffer, buffer + sizeof buffer, value.number());
      out_.append(buffer, ec == std::errc() ? ptr : buffer);
      break;
    }
    case Value::Type::kString:
      String(value.string());
      break;
    case Value::Type::kArray:
      BeginArray();
      for (const Value& item : value.array()) WriteValue(item);
      EndArray();
      break;
    case Value::Type::kObject:
      BeginObject();
      for (const Value::Member& m : value.object()) {
        BeforeValue();
        AppendQuoted(&out_, m.first);
        out_.push_back(':');
        after_key_ = true;
        WriteValue(m.second);
      }
      EndObject();
      break;
  }
}

std::string Writer::Take() {
  std::string result = std::move(out_);
  out_.clear();
  need_comma_.clear();
  after_key_ = false;
  return result;
}

std::string Quote(std::u16string_view text) {
  std::string out;
  AppendQuoted(&out, text);
  return out;
}

}  // namespace quillmark::json
