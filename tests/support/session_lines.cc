#include "support/session_lines.h"

#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <sstream>

#include "com/type_library.h"

namespace quillmark::testing {

using json::Value;

Value ParseAnswer(const std::string& line) {
  Value v;
  std::string error;
  EXPECT_TRUE(json::Parse(line, &v, &error)) << line << ": " << error;
  EXPECT_TRUE(v.is_object()) << line;
  return v;
}

// An answer is a JSON object with either "error" or the call's fields.
void ExpectWellFormed(const std::string& line) {
  ASSERT_EQ(line.find('\n'), std::string::npos);
  Value v = ParseAnswer(line);
  if (const Value* error = v.Find(u"error")) {
    EXPECT_TRUE(error->is_string()) << line;
    EXPECT_EQ(v.Find(u"hr"), nullptr) << line;
    return;
  }
  ASSERT_NE(v.Find(u"hr"), nullptr) << line;
  EXPECT_TRUE(v.Find(u"hr")->is_int()) << line;
  EXPECT_GE(v.Find(u"hr")->integer(), 0) << "HRESULTs are written unsigned: " << line;
  for (const char16_t* key : {u"errorNum", u"errorCode", u"errMsg", u"dialogs"}) {
    EXPECT_NE(v.Find(key), nullptr) << line;
  }
  EXPECT_TRUE(v.Find(u"dialogs")->is_array()) << line;
}

std::vector<std::string> FuzzLines(std::uint32_t seed, int count) {
  std::mt19937 rng(seed);
  std::vector<std::string> lines;
  auto members = com::TypeLibraryMembers();
  const char* pieces[] = {"null",  "1",    "-1", "4294967295", "2147483648",  "\"\"", "\"5\"",
                          "\"x\"", "true", "[]", "{}",         "\"\\uD800\"", "1.25", "\"CN=A|B\""};
  const char* verbs[] = {"call", "get", "put"};
  for (int i = 0; i < count; ++i) {
    std::string line;
    switch (rng() % 3) {
      case 0:  // raw bytes
        line.resize(rng() % 200);
        for (char& c : line) {
          c = static_cast<char>(rng());
          if (c == '\n') c = ' ';
        }
        break;
      case 1: {  // a plausible request
        const com::MemberInfo& m = members[rng() % members.size()];
        line = "{\"" + std::string(verbs[rng() % 3]) + "\":\"" + std::string(m.name) + "\"";
        if (rng() % 2) {
          line += ",\"args\":[";
          for (std::uint32_t k = 0, n = rng() % 4; k < n; ++k) {
            line += (k ? "," : "") + std::string(pieces[rng() % std::size(pieces)]);
          }
          line += "]";
        }
        if (rng() % 3 == 0) line += ",\"value\":" + std::string(pieces[rng() % std::size(pieces)]);
        if (rng() % 3 == 0) line += ",\"id\":" + std::to_string(i);
        line += "}";
        break;
      }
      default: {  // a request with a few bytes flipped
        line = R"({"call":"QMSetPlainText","args":["abc",1,null],"id":[1,2]})";
        for (std::uint32_t k = 0, n = 1 + rng() % 4; k < n; ++k) {
          char c = static_cast<char>(rng());
          line[rng() % line.size()] = c == '\n' ? '\t' : c;
        }
        break;
      }
    }
    lines.push_back(std::move(line));
  }
  return lines;
}

CommandResult RunSessionCommand(const ScratchDir& dir, const std::string& input,
                                const std::string& options) {
  {
    std::ofstream in(dir.File("in.txt"), std::ios::binary);
    in << input;
  }
  CommandResult r;
  std::string out;
  r.status = RunShellCapture(
      "HOME='" + dir.path() + "' QUILLMARK_UI=none " QM_CLI_PATH " session --home '" +
          dir.File("home") + "' " + options + " <'" + dir.File("in.txt") + "'",
      &out);
  std::istringstream stream(out);
  for (std::string line; std::getline(stream, line);) r.lines.push_back(line);
  return r;
}

}  // namespace quillmark::testing
