// quillmark demo: a round trip through the library's encodings.
//
// Packs two form items and a file into one formatted plaintext, compresses
// it into a gzip frame, Base64-encodes it, then runs every step backwards and
// checks that each entry comes back byte for byte.
#include <cstdio>
#include <string>

#include "cli/commands.h"
#include "common/bytes.h"
#include "encoding/base64.h"
#include "encoding/compress_frame.h"
#include "encoding/plaintext_buffer.h"
#include "platform/files.h"

namespace quillmark::cli {

namespace {

constexpr char kSampleName[] = "sample.txt";

std::string SampleText() {
  std::string text;
  for (int i = 1; i <= 200; ++i) {
    text += "Transfer " + std::to_string(i) + ": 1000.00 CNY to account 6222 0000 " +
            std::to_string(100000 + i) + ", reference QM-" + std::to_string(i * 7) + "\n";
  }
  return text;
}

int Fail(const char* what) {
  std::fprintf(stderr, "quillmark demo: %s\n", what);
  return 1;
}

}  // namespace

int RunDemo(Args args) {
  if (args.size() > 1) return Fail("usage: quillmark demo [FILE]");
  std::string name = kSampleName;
  Bytes content;
  if (args.empty()) {
    std::string sample = SampleText();
    content.assign(sample.begin(), sample.end());
  } else {
    name = platform::BaseName(std::string(args[0]));
    if (!platform::ReadWholeFile(std::string(args[0]), &content)) {
      return Fail(("cannot read " + std::string(args[0])).c_str());
    }
    if (content.empty() || name.empty()) return Fail("the file must have a name and content");
  }
  const std::string item1 = "payer=Demo Customer", item2 = "amount=1000.00";

  Bytes plaintext;
  if (!encoding::AppendToOutgoing(&plaintext, AsBytes(item1)).ok() ||
      !encoding::AppendToOutgoing(&plaintext, AsBytes(item2)).ok() ||
      !encoding::AppendToOutgoing(&plaintext, AsBytes(name), content).ok()) {
    return Fail("packing the formatted plaintext failed");
  }
  std::printf("formatted plaintext: 2 form items and file \"%s\" (%zu bytes) in %zu bytes\n",
              name.c_str(), content.size(), plaintext.size());

  Bytes framed = plaintext;
  if (!encoding::CompressFrame(&framed, 0)) return Fail("compression failed");
  std::printf("gzip frame:          %zu bytes (%.1f%% of the plaintext)\n", framed.size(),
              100.0 * static_cast<double>(framed.size()) / static_cast<double>(plaintext.size()));

  Bytes text;
  if (encoding::Base64Encode(framed, &text) != 0) return Fail("Base64 encoding failed");
  std::printf("Base64 text:         %zu bytes; first lines:\n", text.size());
  size_t shown = 0, lines = 0;
  while (shown < text.size() && lines < 3) {
    size_t end = shown;
    while (end < text.size() && text[end] != '\n') ++end;
    std::printf("  %.*s\n", static_cast<int>(end - shown),
                reinterpret_cast<const char*>(text.data() + shown));
    shown = end + 1;
    ++lines;
  }

  Bytes decoded;
  if (encoding::Base64Decode(text, &decoded) != 0 || decoded != framed) {
    return Fail("Base64 decoding did not give the frame back");
  }
  if (!encoding::ExpandFrame(&decoded) || decoded != plaintext) {
    return Fail("expanding the frame did not give the plaintext back");
  }
  Bytes got1, got2, got_name, got_content;
  if (!encoding::TakeFirstFormItem(&decoded, &got1).ok() ||
      !encoding::TakeFirstFormItem(&decoded, &got2).ok() ||
      !encoding::TakeFirstFile(&decoded, &got_name, &got_content).ok()) {
    return Fail("taking the entries back failed");
  }
  if (AsChars(got1) != item1 || AsChars(got2) != item2 || AsChars(got_name) != name ||
      got_content != content || !decoded.empty()) {
    return Fail("an entry came back changed");
  }
  std::printf(
      "round trip:          decoded, expanded and unpacked: \"%s\", \"%s\", %s (%zu bytes)"
      " -- all identical\n",
      item1.c_str(), item2.c_str(), name.c_str(), got_content.size());
  return 0;
}

}  // namespace quillmark::cli
