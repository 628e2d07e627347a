// The candidate list of a certificate selection: five entries per candidate
// certificate, in the order the certificates were found.
//
// Entry k of candidate i sits at position 5 * i + k (positions count from 0,
// after the list's head, which holds the marker "This is a List Head"):
//
//   0  display name of the subject    text   "没有主题" when it cannot be produced
//   1  display name of the issuer     text   "没有颁发者"
//   2  validity end ("...GMT")        text   "没有截止日期"
//   3  serial-number text             text   "没有序列号"
//   4  issuer Name as encoded (DER)   bytes  GBK bytes of "没有主题索引"
//
// The chooser answers with position 5 * row + 4; that entry and the one
// before it (issuer DER and serial text) find the certificate again with
// RefindByIssuerAndSerial. A list of n candidates has 5 * n positions.
#ifndef QUILLMARK_CERTS_CANDIDATE_LIST_H_
#define QUILLMARK_CERTS_CANDIDATE_LIST_H_

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "common/bytes.h"
#include "platform/store/cert_context.h"

namespace quillmark::certs {

inline constexpr std::u16string_view kCandidateListHead = u"This is a List Head";
inline constexpr std::u16string_view kNoSubjectText = u"没有主题";
inline constexpr std::u16string_view kNoIssuerText = u"没有颁发者";
inline constexpr std::u16string_view kNoNotAfterText = u"没有截止日期";
inline constexpr std::u16string_view kNoSerialText = u"没有序列号";
// "没有主题索引" in GBK: the issuer-DER entry of a certificate without one.
inline constexpr std::uint8_t kNoIssuerDer[12] = {0xC3, 0xBB, 0xD3, 0xD0, 0xD6, 0xF7,
                                                  0xCC, 0xE2, 0xCB, 0xF7, 0xD2, 0xFD};

inline constexpr int kEntriesPerCandidate = 5;
inline constexpr int kEntrySubject = 0;
inline constexpr int kEntryIssuer = 1;
inline constexpr int kEntryNotAfter = 2;
inline constexpr int kEntrySerial = 3;
inline constexpr int kEntryIssuerDer = 4;

class CandidateList {
 public:
  CandidateList() = default;
  CandidateList(const CandidateList&) = delete;
  CandidateList& operator=(const CandidateList&) = delete;

  // The head's marker, in its two forms.
  std::u16string_view head_text() const { return kCandidateListHead; }
  Bytes head_bytes() const;

  // Append one entry. May throw std::bad_alloc.
  void AppendText(std::u16string_view text);
  void AppendBytes(ByteSpan bytes);

  // The entry at |position|. False for a negative position, a position at
  // or beyond Count(), or an entry of the other kind.
  bool ReadText(int position, std::u16string* out) const;
  bool ReadBytes(int position, Bytes* out) const;

  // Number of positions after the head.
  int Count() const { return static_cast<int>(nodes_.size()); }

  // Frees every entry; the head stays.
  void Clear() noexcept { nodes_.clear(); }

 private:
  struct Node {
    bool is_text = true;
    std::u16string text;
    Bytes bytes;
  };
  const Node* At(int position) const;

  std::vector<Node> nodes_;
};

// Appends the five entries of |cert|. |subject|, when given, is the subject
// already rendered by the caller (X.500 form); otherwise it is rendered here.
// A text that cannot be produced becomes its placeholder. May throw
// std::bad_alloc (the list may then hold part of the candidate).
void AppendCandidate(const platform::CertContext& cert, const std::u16string* subject,
                     CandidateList* list);

}  // namespace quillmark::certs

#endif  // QUILLMARK_CERTS_CANDIDATE_LIST_H_
