#include "certs/candidate_list.h"

#include <utility>

#include "certs/cert_info.h"
#include "certs/dn_text.h"
#include "common/status.h"

namespace quillmark::certs {

Bytes CandidateList::head_bytes() const {
  return Bytes(kCandidateListHead.begin(), kCandidateListHead.end());
}

void CandidateList::AppendText(std::u16string_view text) {
  Node node;
  node.is_text = true;
  node.text.assign(text);
  nodes_.push_back(std::move(node));
}

void CandidateList::AppendBytes(ByteSpan bytes) {
  Node node;
  node.is_text = false;
  node.bytes.assign(bytes.begin(), bytes.end());
  nodes_.push_back(std::move(node));
}

const CandidateList::Node* CandidateList::At(int position) const {
  if (position < 0 || position >= Count()) return nullptr;
  return &nodes_[static_cast<std::size_t>(position)];
}

bool CandidateList::ReadText(int position, std::u16string* out) const {
  const Node* node = At(position);
  if (node == nullptr || !node->is_text) return false;
  *out = node->text;
  return true;
}

bool CandidateList::ReadBytes(int position, Bytes* out) const {
  const Node* node = At(position);
  if (node == nullptr || node->is_text) return false;
  *out = node->bytes;
  return true;
}

void AppendCandidate(const platform::CertContext& cert, const std::u16string* subject,
                     CandidateList* list) {
  std::u16string text;
  if (subject != nullptr) {
    list->AppendText(DnDisplayName(*subject));
  } else if (CertFieldText(&cert, kFieldSubject, &text) == kOk) {
    list->AppendText(DnDisplayName(text));
  } else {
    list->AppendText(kNoSubjectText);
  }

  if (CertFieldText(&cert, kFieldIssuer, &text) == kOk) {
    list->AppendText(DnDisplayName(text));
  } else {
    list->AppendText(kNoIssuerText);
  }

  if (CertFieldText(&cert, kFieldNotAfter, &text) == kOk && !text.empty()) {
    list->AppendText(text);
  } else {
    list->AppendText(kNoNotAfterText);
  }

  if (CertFieldText(&cert, kFieldSerial, &text) == kOk && !text.empty()) {
    list->AppendText(text);
  } else {
    list->AppendText(kNoSerialText);
  }

  if (!cert.issuer_der().empty()) {
    list->AppendBytes(cert.issuer_der());
  } else {
    list->AppendBytes(kNoIssuerDer);
  }
}

}  // namespace quillmark::certs
