#include "platform/registry/registry_text.h"

#include <cstdio>

#include "common/ascii.h"
#include "common/hex.h"
#include "common/trim.h"
#include "common/unicode.h"

namespace quillmark::platform {

namespace {

constexpr std::string_view kHeader = "Windows Registry Editor Version 5.00";
constexpr std::string_view kHeader4 = "REGEDIT4";
constexpr size_t kMaxKeyNameUnits = 255;

char16_t FoldUnit(char16_t c) {
  if (c >= u'a' && c <= u'z') return static_cast<char16_t>(c - 32);
  if (c < 0xE0) return c;
  if (c <= 0xFE) return c == 0xF7 ? c : static_cast<char16_t>(c - 32);
  if (c == 0xFF) return 0x178;
  if (c == 0x3C2) return 0x3A3;
  if (c >= 0x3B1 && c <= 0x3C9) return static_cast<char16_t>(c - 32);
  if (c >= 0x430 && c <= 0x44F) return static_cast<char16_t>(c - 32);
  if (c >= 0x450 && c <= 0x45F) return static_cast<char16_t>(c - 80);
  return c;
}

// Parses 1 to 8 hexadecimal digits making up all of |s|.
bool ParseHexNumber(std::string_view s, std::uint32_t* value) {
  if (s.empty() || s.size() > 8) return false;
  std::uint32_t v = 0;
  for (char c : s) {
    int d = HexDigitValue(static_cast<unsigned char>(c));
    if (d < 0) return false;
    v = (v << 4) | static_cast<std::uint32_t>(d);
  }
  *value = v;
  return true;
}

// "01,02, ff" (a trailing comma is tolerated, an empty list is allowed).
bool ParseByteList(std::string_view s, Bytes* out) {
  out->clear();
  s = Trim(s);
  if (s.empty()) return true;
  size_t pos = 0;
  while (pos <= s.size()) {
    size_t comma = s.find(',', pos);
    size_t end = comma == std::string_view::npos ? s.size() : comma;
    std::string_view token = Trim(s.substr(pos, end - pos));
    if (token.empty()) return comma == std::string_view::npos && !out->empty();
    std::uint32_t v;
    if (token.size() > 2 || !ParseHexNumber(token, &v)) return false;
    out->push_back(static_cast<std::uint8_t>(v));
    if (comma == std::string_view::npos) break;
    pos = comma + 1;
  }
  return true;
}

// A quoted string starting at s[*pos] == '"'; \\ and \" are the escapes.
bool ParseQuoted(std::string_view s, size_t* pos, std::string* out) {
  out->clear();
  size_t i = *pos + 1;
  while (i < s.size()) {
    char c = s[i];
    if (c == '"') {
      *pos = i + 1;
      return true;
    }
    if (c == '\\') {
      if (i + 1 >= s.size() || (s[i + 1] != '\\' && s[i + 1] != '"')) return false;
      out->push_back(s[i + 1]);
      i += 2;
      continue;
    }
    out->push_back(c);
    ++i;
  }
  return false;
}

std::string Quote(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"') out.push_back('\\');
    out.push_back(c);
  }
  out.push_back('"');
  return out;
}

struct ParsedValue {
  std::u16string name;
  bool remove = false;
  std::uint32_t type = kRegNone;
  Bytes data;
};

// One logical value line (continuations already joined, trimmed).
bool ParseValueLine(std::string_view s, ParsedValue* v) {
  size_t pos = 0;
  if (s.empty()) return false;
  if (s[0] == '@') {
    v->name.clear();
    pos = 1;
  } else if (s[0] == '"') {
    std::string name;
    if (!ParseQuoted(s, &pos, &name) || !Utf8ToUtf16(name, &v->name)) return false;
  } else {
    return false;
  }
  while (pos < s.size() && IsLineBlank(s[pos])) ++pos;
  if (pos >= s.size() || s[pos] != '=') return false;
  std::string_view rest = Trim(s.substr(pos + 1));
  if (rest == "-") {
    v->remove = true;
    return true;
  }
  if (!rest.empty() && rest[0] == '"') {
    size_t p = 0;
    std::string text;
    std::u16string wide;
    if (!ParseQuoted(rest, &p, &text) || p != rest.size() || !Utf8ToUtf16(text, &wide)) {
      return false;
    }
    v->type = kRegSz;
    v->data = RegistryStringBytes(wide);
    return true;
  }
  if (StartsWithLowerIgnoringAsciiCase(rest, "dword:")) {
    std::uint32_t n;
    if (!ParseHexNumber(rest.substr(6), &n)) return false;
    v->type = kRegDword;
    v->data = {static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(n >> 8),
               static_cast<std::uint8_t>(n >> 16), static_cast<std::uint8_t>(n >> 24)};
    return true;
  }
  if (StartsWithLowerIgnoringAsciiCase(rest, "hex:")) {
    v->type = kRegBinary;
    return ParseByteList(rest.substr(4), &v->data);
  }
  if (StartsWithLowerIgnoringAsciiCase(rest, "hex(")) {
    size_t close = rest.find(')');
    if (close == std::string_view::npos || close + 1 >= rest.size() || rest[close + 1] != ':') {
      return false;
    }
    if (!ParseHexNumber(rest.substr(4, close - 4), &v->type)) return false;
    return ParseByteList(rest.substr(close + 2), &v->data);
  }
  return false;
}

void AppendHexData(std::string_view prefix, ByteSpan data, std::string* out) {
  size_t column = prefix.size();
  out->append(prefix);
  for (size_t i = 0; i < data.size(); ++i) {
    out->push_back(kHexDigitsLower[data[i] >> 4]);
    out->push_back(kHexDigitsLower[data[i] & 15]);
    column += 2;
    if (i + 1 < data.size()) {
      out->push_back(',');
      ++column;
      if (column >= 76) {
        out->append("\\\n  ");
        column = 2;
      }
    }
  }
}

std::string FormatValue(const RegistryEntry& e) {
  std::string line;
  if (e.name.empty()) {
    line = "@=";
  } else {
    line = Quote(Utf16ToUtf8Lossy(e.name)) + "=";
  }
  if (e.type == kRegSz) {
    std::u16string text;
    std::string utf8;
    if (RegistryStringText(e.data, &text) &&
        text.find_first_of(std::u16string_view(u"\r\n\0", 3)) == text.npos &&
        Utf16ToUtf8(text, &utf8)) {
      return line + Quote(utf8);
    }
  }
  if (e.type == kRegDword && e.data.size() == 4) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "dword:%08x",
                  static_cast<unsigned>(e.data[0] | (e.data[1] << 8) | (e.data[2] << 16) |
                                        (static_cast<std::uint32_t>(e.data[3]) << 24)));
    return line + buf;
  }
  if (e.type == kRegBinary) {
    line += "hex:";
  } else {
    char buf[24];
    std::snprintf(buf, sizeof buf, "hex(%x):", static_cast<unsigned>(e.type));
    line += buf;
  }
  std::string out;
  AppendHexData(line, e.data, &out);
  return out;
}

std::string DecodeFileText(ByteSpan file) {
  if (file.size() >= 3 && file[0] == 0xEF && file[1] == 0xBB && file[2] == 0xBF) {
    return std::string(AsChars(file.subspan(3)));
  }
  if (file.size() >= 2 && file[0] == 0xFF && file[1] == 0xFE) {
    std::u16string wide;
    wide.reserve(file.size() / 2);
    for (size_t i = 2; i + 1 < file.size(); i += 2) {
      wide.push_back(static_cast<char16_t>(file[i] | (file[i + 1] << 8)));
    }
    return Utf16ToUtf8Lossy(wide);
  }
  return std::string(AsChars(file));
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t nl = text.find('\n', pos);
    size_t end = nl == std::string::npos ? text.size() : nl;
    std::string line = text.substr(pos, end - pos);
    // Every carriage return at the end goes: the file is written with LF ends.
    while (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
    pos = end + 1;
  }
  return lines;
}

// True for a value line whose hexadecimal data goes on in the next line.
bool ContinuesHexData(std::string_view trimmed) {
  if (trimmed.empty() || trimmed.back() != '\\') return false;
  if (trimmed[0] != '"' && trimmed[0] != '@') return false;
  for (size_t i = 0; i + 4 <= trimmed.size(); ++i) {
    if (trimmed[i] == '=' && StartsWithLowerIgnoringAsciiCase(Trim(trimmed.substr(i + 1)), "hex"))
      return true;
  }
  return false;
}

bool IsSectionHeader(std::string_view trimmed) {
  return trimmed.size() >= 2 && trimmed.front() == '[' && trimmed.back() == ']';
}

}  // namespace

std::u16string FoldRegistryName(std::u16string_view name) {
  std::u16string out(name);
  for (char16_t& c : out) c = FoldUnit(c);
  return out;
}

Bytes RegistryStringBytes(std::u16string_view text) {
  Bytes out;
  out.reserve(text.size() * 2 + 2);
  for (char16_t c : text) {
    out.push_back(static_cast<std::uint8_t>(c));
    out.push_back(static_cast<std::uint8_t>(c >> 8));
  }
  out.push_back(0);
  out.push_back(0);
  return out;
}

bool RegistryStringText(ByteSpan data, std::u16string* text) {
  if (data.size() < 2 || data.size() % 2 != 0) return false;
  if (data[data.size() - 1] != 0 || data[data.size() - 2] != 0) return false;
  text->clear();
  for (size_t i = 0; i + 2 < data.size(); i += 2) {
    text->push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
  }
  return true;
}

RegistryEntry* RegistryKey::FindValue(std::u16string_view value_name) {
  std::u16string folded = FoldRegistryName(value_name);
  for (RegistryEntry& e : entries) {
    if (e.is_value && e.name.size() == folded.size() && FoldRegistryName(e.name) == folded) {
      return &e;
    }
  }
  return nullptr;
}

void RegistryKey::SetValue(std::u16string_view value_name, std::uint32_t type, Bytes data) {
  if (RegistryEntry* e = FindValue(value_name)) {
    e->type = type;
    e->data = std::move(data);
    return;
  }
  RegistryEntry e;
  e.name = std::u16string(value_name);
  e.type = type;
  e.data = std::move(data);
  entries.push_back(std::move(e));
}

bool RegistryKey::DeleteValue(std::u16string_view value_name) {
  RegistryEntry* e = FindValue(value_name);
  if (e == nullptr) return false;
  entries.erase(entries.begin() + (e - entries.data()));
  return true;
}

RegistryKey* RegistryKey::FindSubkey(std::u16string_view subkey_name) {
  auto it = subkeys.find(FoldRegistryName(subkey_name));
  return it == subkeys.end() ? nullptr : it->second.get();
}

RegistryKey* RegistryKey::AddSubkey(std::u16string_view subkey_name, bool* created) {
  auto& slot = subkeys[FoldRegistryName(subkey_name)];
  *created = slot == nullptr;
  if (slot == nullptr) {
    slot = std::make_unique<RegistryKey>();
    slot->name = std::u16string(subkey_name);
  }
  return slot.get();
}

RegistryDocument::RegistryDocument() {
  bool created;
  for (const char16_t* root :
       {u"HKEY_LOCAL_MACHINE", u"HKEY_CURRENT_USER", u"HKEY_USERS", u"HKEY_CURRENT_CONFIG"}) {
    top_.AddSubkey(root, &created);
  }
}

bool SplitRegistryPath(std::u16string_view path, std::vector<std::u16string>* names) {
  names->clear();
  std::string utf8;
  if (!Utf16ToUtf8(path, &utf8)) return false;  // a lone surrogate cannot be written
  if (!path.empty() && path.back() == u'\\') path.remove_suffix(1);
  size_t pos = 0;
  for (;;) {
    size_t slash = path.find(u'\\', pos);
    std::u16string_view part =
        path.substr(pos, slash == std::u16string_view::npos ? path.npos : slash - pos);
    if (part.empty() || part.size() > kMaxKeyNameUnits) return false;
    for (char16_t c : part) {
      if (c < 0x20) return false;
    }
    names->emplace_back(part);
    if (slash == std::u16string_view::npos) return true;
    pos = slash + 1;
  }
}

bool RegistryDocument::CanonicalPath(std::u16string_view path,
                                     std::vector<std::u16string>* components) {
  components->clear();
  std::vector<std::u16string> parts;
  if (!SplitRegistryPath(path, &parts)) return false;
  std::u16string root = FoldRegistryName(parts[0]);
  if (root == u"HKEY_LOCAL_MACHINE" || root == u"HKLM") {
    components->push_back(u"HKEY_LOCAL_MACHINE");
  } else if (root == u"HKEY_CURRENT_USER" || root == u"HKCU") {
    components->push_back(u"HKEY_CURRENT_USER");
  } else if (root == u"HKEY_USERS" || root == u"HKU") {
    components->push_back(u"HKEY_USERS");
  } else if (root == u"HKEY_CURRENT_CONFIG" || root == u"HKCC") {
    components->push_back(u"HKEY_CURRENT_CONFIG");
  } else if (root == u"HKEY_CLASSES_ROOT" || root == u"HKCR") {
    components->insert(components->end(), {u"HKEY_LOCAL_MACHINE", u"SOFTWARE", u"Classes"});
  } else {
    return false;
  }
  components->insert(components->end(), parts.begin() + 1, parts.end());
  return true;
}

RegistryKey* RegistryDocument::Find(const std::vector<std::u16string>& components) {
  RegistryKey* key = &top_;
  for (const std::u16string& c : components) {
    key = key->FindSubkey(c);
    if (key == nullptr) return nullptr;
  }
  return key;
}

RegistryKey* RegistryDocument::Create(const std::vector<std::u16string>& components,
                                      bool* created) {
  RegistryKey* key = &top_;
  bool made = false;
  for (const std::u16string& c : components) {
    bool step_created;
    key = key->AddSubkey(c, &step_created);
    made = step_created;
  }
  *created = made;
  return key;
}

void RegistryDocument::Spell(std::vector<std::u16string>* components) {
  RegistryKey* key = &top_;
  for (std::u16string& c : *components) {
    key = key->FindSubkey(c);
    if (key == nullptr) return;
    c = key->name;
  }
}

bool RegistryDocument::Remove(const std::vector<std::u16string>& components) {
  if (components.size() < 2) return false;
  std::vector<std::u16string> parent_path(components.begin(), components.end() - 1);
  RegistryKey* parent = Find(parent_path);
  if (parent == nullptr) return false;
  return parent->subkeys.erase(FoldRegistryName(components.back())) > 0;
}

namespace {

// Joins the lines of continued hex data to |*logical| (and |*raw|), moving
// |*i| to the last line taken. A trailing backslash joins the next line, or
// ends the data when the file or the section ends there. A blank line ends
// the data too; it is not kept in |raw|, so a rewrite (which may add or drop
// blank lines) reads back the same entry.
void JoinContinuedHexData(const std::vector<std::string>& lines, size_t* i, std::string* raw,
                          std::string* logical) {
  while (ContinuesHexData(*logical)) {
    logical->pop_back();
    if (*i + 1 >= lines.size() || IsSectionHeader(Trim(lines[*i + 1]))) break;
    ++*i;
    std::string_view next = Trim(lines[*i]);
    if (next.empty()) break;
    logical->append(next);
    raw->append("\n").append(lines[*i]);
  }
}

}  // namespace

class RegistryDocument::Reader {
 public:
  explicit Reader(RegistryDocument* doc) : doc_(*doc) {}

  // One logical line (continuations joined) and its raw text.
  void Read(const std::string& logical, const std::string& raw) {
    if (IsSectionHeader(logical)) {
      ReadSectionHeader(logical, raw);
      return;
    }
    switch (section_) {
      case Section::kNone:
        doc_.preamble_.push_back(raw);
        break;
      case Section::kForeign:
        doc_.foreign_.back().append("\n").append(raw);
        break;
      case Section::kDeleted:
        break;
      case Section::kKey:
        ReadKeyLine(logical, raw);
        break;
    }
  }

 private:
  enum class Section { kNone, kKey, kForeign, kDeleted };

  // "[path]" opens (creating) a key, "[-path]" deletes one; a path that names
  // no key starts a section kept verbatim.
  void ReadSectionHeader(const std::string& logical, const std::string& raw) {
    std::string_view inner = std::string_view(logical).substr(1, logical.size() - 2);
    bool remove = !inner.empty() && inner[0] == '-';
    if (remove) inner.remove_prefix(1);
    std::u16string path;
    std::vector<std::u16string> components;
    if (!Utf8ToUtf16(inner, &path) || !CanonicalPath(path, &components)) {
      doc_.foreign_.push_back(raw);
      section_ = Section::kForeign;
    } else if (remove) {
      doc_.Remove(components);
      section_ = Section::kDeleted;
    } else {
      bool created;
      key_ = doc_.Create(components, &created);
      section_ = Section::kKey;
    }
  }

  // A value line sets or deletes a value; anything else is kept verbatim.
  void ReadKeyLine(const std::string& logical, const std::string& raw) {
    ParsedValue v;
    if (logical[0] != ';' && ParseValueLine(logical, &v)) {
      if (v.remove) {
        key_->DeleteValue(v.name);
      } else {
        key_->SetValue(v.name, v.type, std::move(v.data));
      }
      return;
    }
    RegistryEntry e;
    e.is_value = false;
    e.verbatim = raw;
    key_->entries.push_back(std::move(e));
  }

  RegistryDocument& doc_;
  Section section_ = Section::kNone;
  RegistryKey* key_ = nullptr;
};

RegistryDocument RegistryDocument::Parse(ByteSpan file) {
  RegistryDocument doc;
  Reader reader(&doc);
  std::vector<std::string> lines = SplitLines(DecodeFileText(file));
  bool header_done = false;
  for (size_t i = 0; i < lines.size(); ++i) {
    std::string raw = lines[i];
    std::string logical(Trim(raw));
    if (logical.empty()) continue;
    if (!header_done) {
      header_done = true;
      if (logical == kHeader || logical == kHeader4) continue;
    }
    JoinContinuedHexData(lines, &i, &raw, &logical);
    reader.Read(logical, raw);
  }
  return doc;
}

namespace {

void SerializeKey(const RegistryKey& key, const std::string& path, bool is_root, std::string* out) {
  if (!key.entries.empty() || (!is_root && key.subkeys.empty())) {
    out->append("[").append(path).append("]\n");
    for (const RegistryEntry& e : key.entries) {
      out->append(e.is_value ? FormatValue(e) : e.verbatim).append("\n");
      // A kept line ending in a backslash must not join the entry after it
      // when the file is read again: a blank line ends it.
      std::string_view tail = Trim(e.verbatim);
      if (!e.is_value && !tail.empty() && tail.back() == '\\') out->append("\n");
    }
    out->append("\n");
  }
  for (const auto& [folded, sub] : key.subkeys) {
    SerializeKey(*sub, path + "\\" + Utf16ToUtf8Lossy(sub->name), false, out);
  }
}

}  // namespace

std::string RegistryDocument::Serialize() const {
  std::string out(kHeader);
  out.append("\n\n");
  for (const std::string& line : preamble_) out.append(line).append("\n");
  if (!preamble_.empty()) out.append("\n");
  for (const auto& [folded, root] : top_.subkeys) {
    SerializeKey(*root, Utf16ToUtf8Lossy(root->name), true, &out);
  }
  for (const std::string& block : foreign_) out.append(block).append("\n\n");
  return out;
}

}  // namespace quillmark::platform
