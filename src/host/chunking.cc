#include "host/chunking.h"

#include <algorithm>

namespace quillmark::host {

namespace {

bool IsContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

}  // namespace

std::vector<std::string> SplitAnswer(std::string answer, const json::Value& id) {
  std::vector<std::string> messages;
  if (answer.size() <= kChunkThreshold) {
    messages.push_back(std::move(answer));
    return messages;
  }
  std::vector<std::string_view> pieces;
  std::string_view rest(answer);
  while (!rest.empty()) {
    std::size_t cut = std::min(kChunkPieceSize, rest.size());
    while (cut < rest.size() && cut > 1 && IsContinuationByte(rest[cut])) --cut;
    pieces.push_back(rest.substr(0, cut));
    rest.remove_prefix(cut);
  }
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    json::Writer w;
    w.BeginObject();
    if (!id.is_null()) {
      w.Key("id");
      w.WriteValue(id);
    }
    w.Key("chunk");
    w.UInt(i);
    w.Key("of");
    w.UInt(pieces.size());
    w.Key("data");
    w.StringUtf8(pieces[i]);
    w.EndObject();
    messages.push_back(w.Take());
  }
  return messages;
}

}  // namespace quillmark::host
