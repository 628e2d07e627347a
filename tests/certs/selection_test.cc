// Certificate selection over real stores under a scratch home folder, with
// the chooser answered by a script: DN matching and its normalisation, the
// reversed-DN retry, alternatives, key filters, the SM2 split, serial lists,
// and several stores holding one certificate. Every case goes through
// SelectCertificate; a DN that matches nothing shows itself by the retry's
// chooser, which is shown even when it has no rows.
#include "certs/selection.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <initializer_list>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "certs/dn_text.h"
#include "common/status.h"
#include "platform/os/home.h"
#include "platform/store/cert_context_internal.h"
#include "platform/store/cert_store.h"
#include "platform/ui/dialog_factory.h"
#include "platform/ui/script_host.h"
#include "support/cert_factory.h"
#include "support/test_dirs.h"

namespace quillmark::certs {
namespace {

namespace pf = quillmark::platform;
namespace ui = quillmark::platform::ui;
using pf::CertContextPtr;
using pf::CertStore;
using testing::NameBuilder;

using Attrs = std::initializer_list<std::pair<const char*, const char*>>;

Bytes Name(Attrs attrs) {
  NameBuilder b;
  for (const auto& [type, value] : attrs) b.Add(type, value);
  return b.Der();
}

// Placeholder for the key-provider property: none, or one that cannot be read.
constexpr int kNoKey = 0;
constexpr int kUnreadableKey = -1;

class SelectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    pf::SetQuillmarkHome(home_.path());
    pf::ClearCertStoreCache();
  }
  void TearDown() override {
    ui::SetCurrentDialogHost(nullptr);
    pf::ClearCertStoreCache();
    pf::SetQuillmarkHome("");
  }

  static CertStore Open(std::u16string_view name) {
    return pf::CertOpenStore(pf::kCertStoreProvSystemW, pf::kDefaultEncoding,
                             pf::kCertSystemStoreCurrentUser, name);
  }

  static EVP_PKEY* EcKey() {
    static testing::EvpPkeyPtr key = testing::MakeEcKey();
    return key.get();
  }
  static EVP_PKEY* Sm2Key() {
    static testing::EvpPkeyPtr key(EVP_PKEY_Q_keygen(nullptr, nullptr, "SM2"));
    return key.get();
  }

  struct Spec {
    Spec(Bytes subject_der, Bytes serial_bytes = {0x01}, int spec = pf::kAtKeyExchange,
         bool sm2_signed = false, Bytes issuer_der = {})
        : subject(std::move(subject_der)),
          serial(std::move(serial_bytes)),
          key_spec(spec),
          sm2(sm2_signed),
          issuer(std::move(issuer_der)) {}
    Bytes subject;
    Bytes serial;
    int key_spec;  // kAtKeyExchange, kAtSignature, kNoKey or kUnreadableKey
    bool sm2;
    Bytes issuer;  // empty: self-issued
  };

  static Bytes Der(const Spec& s) {
    testing::CertSpec spec;
    spec.subject = s.subject;
    spec.issuer = s.issuer;
    spec.serial = s.serial;
    spec.subject_key = s.sm2 ? Sm2Key() : EcKey();
    spec.digest = s.sm2 ? EVP_sm3() : nullptr;
    return testing::MakeCertificate(spec);
  }

  CertContextPtr Add(const CertStore& store, const Spec& s) {
    CertContextPtr added;
    EXPECT_TRUE(pf::CertAddEncodedCertificateToStore(store, pf::kDefaultEncoding, Der(s),
                                                     pf::kCertStoreAddNew, &added));
    if (!added) return nullptr;
    if (s.key_spec > 0) {
      pf::KeyProvInfo info;
      info.container =
          u"c-" + std::u16string(added->thumbprint().begin(), added->thumbprint().end());
      info.provider = u"Quillmark Software Provider";
      info.key_spec = static_cast<std::uint32_t>(s.key_spec);
      EXPECT_TRUE(
          pf::CertSetCertificateContextProperty(*added, pf::kCertKeyProvInfoPropId, 0, &info));
    } else if (s.key_spec == kUnreadableKey) {
      EXPECT_TRUE(testing::WriteBytes(store.path() + "/" + added->thumbprint() + ".keyprov",
                                      AsBytes("not a property\n")));
      pf::ClearCertStoreCache();
    }
    return added;
  }

  // Answers the chooser from |script| from now on.
  static void Script(std::string_view script) {
    ui::SetCurrentDialogHost(std::make_unique<ui::ScriptDialogHost>(script));
  }
  static std::vector<ui::DialogReport> Reports() { return ui::CurrentDialogHost().TakeReports(); }

  // The subjects listed by the one chooser shown since the last call, in
  // candidate order; {"-"} when no dialog was shown.
  static std::vector<std::u16string> ChooserRows() {
    std::vector<ui::DialogReport> reports = Reports();
    if (reports.empty()) return {u"-"};
    EXPECT_EQ(reports.size(), 1u);
    std::vector<std::u16string> rows;
    for (const ui::ChooserRow& r : reports[0].rows) rows.push_back(r.subject);
    return rows;
  }

  static std::u16string DisplayName(const CertContextPtr& c) {
    if (!c) return u"none";
    std::u16string subject;
    pf::CertNameToStrW(pf::kDefaultEncoding, c->subject_der(), pf::kCertX500NameStr, &subject);
    return std::u16string(DnDisplayName(subject));
  }

  CertContextPtr Select(StoreList stores, const SignerQuery& query) const {
    return SelectCertificate(stores, query, texts_);
  }

  // Zhangsan, two certificates named Twin (their thumbprints in enumeration
  // order are returned) and one without a key.
  std::vector<std::string> AddTwins(const CertStore& my) {
    Add(my, {Name({{"C", "CN"}, {"O", "Bank"}, {"CN", "Zhangsan"}})});
    Add(my, {Name({{"CN", "Twin"}}), {0x01}});
    Add(my, {Name({{"CN", "Twin"}}), {0x02}});
    Add(my, {Name({{"CN", "Keyless"}}), {0x03}, kNoKey});
    std::vector<std::string> twins;
    for (CertContextPtr c = pf::CertEnumCertificatesInStore(my, nullptr); c;
         c = pf::CertEnumCertificatesInStore(my, c)) {
      if (DisplayName(c) == u"Twin") twins.push_back(c->thumbprint());
    }
    EXPECT_EQ(twins.size(), 2u);
    return twins;
  }

  // "MY" with Wang, Wang SM2 and Li, and the store "SM2" with a keyless SM2
  // certificate whose subject also holds "CN=Wang".
  std::array<CertStore, 2> Sm2Stores() {
    CertStore my = Open(u"MY");
    CertStore sm2 = Open(u"SM2");
    Add(my, {Name({{"CN", "Wang"}}), {0x01}});
    Add(my, {Name({{"CN", "Wang SM2"}}), {0x02}, pf::kAtKeyExchange, true});
    Add(my, {Name({{"CN", "Li"}}), {0x03}});
    Add(sm2, {Name({{"CN", "Wang SM2 spare"}}), {0x04}, kNoKey, true});
    return {std::move(my), std::move(sm2)};
  }

  static std::vector<std::u16string> Sorted(std::vector<std::u16string> v) {
    std::sort(v.begin(), v.end());
    return v;
  }

  testing::ScratchDir home_;
  ChooserTexts texts_{u"Pick", u"Choose one", u"Subject", u"Issuer", u"Until",
                      u"OK",   u"Cancel",     u"View",    u"Notice"};
};

TEST(DnText, NormaliseReverseDisplayNameAndSplit) {
  struct {
    std::u16string_view in, normalized, reversed;
  } dns[] = {
      {u"CN=a,O=b", u"CN=a, O=b", u"O=b, CN=a"},
      {u"CN=a, O=b", u"CN=a, O=b", u"O=b, CN=a"},
      {u"C=CN, O=Bank, OU=Dept, CN=Zhang", u"C=CN, O=Bank, OU=Dept, CN=Zhang",
       u"CN=Zhang, OU=Dept, O=Bank, C=CN"},
      {u"C=CN,O=Bank,CN=Zhang", u"C=CN, O=Bank, CN=Zhang", u"CN=Zhang, O=Bank, C=CN"},
      {u"A,B", u"A, B", u"B, A"},
      {u"A,", u"A, ", u", A"},
      {u",A", u", A", u",A"},  // a leading comma does not separate
      {u"A,,B", u"A, ,B", u"B, , A"},
      {u"A,  B", u"A,  B", u" B, A"},  // only one space is dropped
      {u"", u"", u""},
  };
  for (const auto& c : dns) {
    EXPECT_EQ(NormalizeDnCommas(c.in), c.normalized) << std::string(c.in.begin(), c.in.end());
    EXPECT_EQ(ReverseDn(c.in), c.reversed) << std::string(c.in.begin(), c.in.end());
  }

  // No fixed room for the added spaces.
  std::u16string many_commas;
  for (int i = 0; i < 600; ++i) many_commas += u"a,";
  EXPECT_EQ(NormalizeDnCommas(many_commas).size(), 1800u);

  struct {
    std::u16string_view dn, display;
  } names[] = {
      {u"C=CN, O=Bank, CN=Zhang San, E=z@b", u"Zhang San"},
      {u"C=CN, O=Bank, OU=Retail, E=z@b", u"z@b"},
      {u"C=CN, O=Bank, OU=Retail", u"Retail"},
      {u"C=CN, O=Bank", u"Bank"},
      {u"C=CN, L=Beijing", u"C=CN, L=Beijing"},
      {u"C=CN, O=Bank, CN=", u""},
  };
  for (const auto& c : names) EXPECT_EQ(DnDisplayName(c.dn), c.display);

  using Pieces = std::vector<std::u16string_view>;
  EXPECT_EQ(SplitDnAlternatives(u"CN=a|CN=b", u"|"), (Pieces{u"CN=a", u"CN=b"}));
  EXPECT_EQ(SplitDnAlternatives(u"CN=a|", u"|"), (Pieces{u"CN=a", u""}));
  EXPECT_EQ(SplitDnAlternatives(u"a|||b", u"||"), (Pieces{u"a", u"|b"}));
  EXPECT_EQ(SplitDnAlternatives(u"CN=a", u"|"), (Pieces{u"CN=a"}));
  // An empty separator would match everywhere; it splits nothing.
  EXPECT_EQ(SplitDnAlternatives(u"CN=a|b", u""), (Pieces{u"CN=a|b"}));
}

TEST(SerialList, TokensPairsAndLimit) {
  struct {
    std::u16string_view list;
    std::vector<Bytes> blobs;  // least significant byte first
  } cases[] = {
      {u"0A1B 00ff", {{0x1B, 0x0A}, {0xFF, 0x00}}},
      {u"A1B", {}},                                   // odd length
      {u"0G12 00FF", {{0xFF, 0x00}}},                 // a bad digit drops the token
      {u"0A1B  00FF", {{0x1B, 0x0A}, {0xFF, 0x00}}},  // empty token between two spaces
      {u" 0a1B ", {{0x1B, 0x0A}}},
      {u"", {}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ParseSerialList(c.list), c.blobs) << std::string(c.list.begin(), c.list.end());
  }
  std::u16string many;
  for (int i = 1; i <= 25; ++i)
    many += u"0" + std::u16string(1, u"0123456789ABCDEF"[i % 16]) + u" ";
  std::vector<Bytes> parsed = ParseSerialList(many);
  ASSERT_EQ(parsed.size(), kMaxSerialNumbers);
  EXPECT_EQ(parsed.back(), Bytes{0x04});  // the 20th token
}

TEST_F(SelectionTest, DnMatchingInOneStore) {
  CertStore my = Open(u"MY");
  Add(my, {Name({{"C", "CN"}, {"O", "Bank"}, {"CN", "Zhangsan"}})});
  Add(my, {Name({{"C", "CN"}, {"O", "Bank"}, {"CN", "Alice"}})});
  Add(my, {Name({{"C", "CN"}, {"O", "Other"}, {"CN", "Bob"}}), {0x02}, pf::kAtSignature});
  Add(my, {Name({{"C", "CN"}, {"O", "Bank"}, {"CN", "Carol"}}), {0x03}, kNoKey});

  struct {
    std::u16string_view dn, separator;
    // Chooser rows, sorted; {"-"}: no dialog; {}: nothing matched, in either
    // order, and the retry's chooser listed nothing.
    std::vector<std::u16string> rows;
    std::u16string_view selected;  // with "choose 0" as the answer
  } cases[] = {
      {u"CN=Zhang", u"|", {u"-"}, u"Zhangsan"},  // substring
      {u"O=Bank,CN=Zhangsan", u"|", {u"-"}, u"Zhangsan"},
      {u"O=Bank, CN=Zhangsan", u"|", {u"-"}, u"Zhangsan"},
      {u"CN=Zhangsan, O=Bank", u"|", {u"-"}, u"Zhangsan"},  // found by the reversed retry
      // Order matters within one pass: only Alice matches, so no chooser.
      {u"CN=Alice|CN=Zhangsan, O=Bank", u"|", {u"-"}, u"Alice"},
      {u"CN=Zhangsan, C=CN", u"|", {}, u"none"},  // in neither order
      {u"cn=zhangsan", u"|", {}, u"none"},        // case matters
      {u"CN=Carol", u"|", {}, u"none"},           // no key property
      {u"CN=Alice|CN=Bob", u"|", {u"Alice", u"Bob"}, u""},
      {u"CN=Alice||CN=Bob", u"||", {u"Alice", u"Bob"}, u""},
      {u"CN=Alice|", u"|", {u"Alice", u"Bob", u"Zhangsan"}, u""},  // empty alternative
      {u"CN=Alice|CN=Alice", u"|", {u"-"}, u"Alice"},              // counted once
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.dn.begin(), c.dn.end()));
    Script("choose 0\n");
    CertContextPtr got = Select({&my, 1}, {.dn = c.dn, .separator = c.separator});
    std::vector<ui::DialogReport> reports = Reports();
    if (!c.rows.empty() && c.rows[0] == u"-") {
      EXPECT_TRUE(reports.empty());
      EXPECT_EQ(DisplayName(got), c.selected);
      continue;
    }
    ASSERT_EQ(reports.size(), 1u);
    std::vector<std::u16string> rows;
    for (const ui::ChooserRow& r : reports[0].rows) rows.push_back(r.subject);
    EXPECT_EQ(Sorted(rows), c.rows);
    if (rows.empty()) {
      EXPECT_EQ(DisplayName(got), c.selected);
      continue;
    }
    // "choose 0" is the first candidate, whatever its name.
    EXPECT_EQ(DisplayName(got), rows[0]);
    EXPECT_EQ(reports[0].answer, u"choose 0");
  }
}

TEST_F(SelectionTest, ChooserCarriesItsTextsAndNoStoreShowsNothing) {
  CertStore my = Open(u"MY");
  Add(my, {Name({{"C", "CN"}, {"O", "Bank"}, {"CN", "Zhangsan"}})});
  Add(my, {Name({{"C", "CN"}, {"O", "Bank"}, {"CN", "Alice"}})});

  // The rows carry the texts of the dialog and the three column texts. Two
  // matched, so a Cancel asks nothing more.
  Script("cancel\n");
  EXPECT_EQ(Select({&my, 1}, {.dn = u"CN=Alice|CN=Zhangsan"}), nullptr);
  std::vector<ui::DialogReport> reports = Reports();
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].title, u"Pick");
  EXPECT_EQ(reports[0].columns[2], u"Until");
  EXPECT_EQ(reports[0].notice, u"Notice");
  ASSERT_EQ(reports[0].rows.size(), 2u);
  EXPECT_EQ(reports[0].rows[0].issuer, reports[0].rows[0].subject);  // self-issued
  EXPECT_EQ(reports[0].rows[1].not_after, u"2030-01-01 00:00:00GMT");

  // An empty store list finds nothing and shows nothing, not even the retry's
  // chooser.
  EXPECT_EQ(Select({}, {.dn = u"CN=Alice"}), nullptr);
  EXPECT_EQ(Select({}, {}), nullptr);
  EXPECT_TRUE(Reports().empty());
}

TEST_F(SelectionTest, ProtocolRetriesReversedDnOnlyWhenNothingMatched) {
  CertStore my = Open(u"MY");
  const std::vector<std::string> twins = AddTwins(my);
  SignerQuery query;
  CertContextPtr got;

  // Written in the other order: found by the second call, no dialog.
  Script("");
  query.dn = u"C=CN, O=Bank, CN=Zhangsan";
  got = Select({&my, 1}, query);
  EXPECT_EQ(DisplayName(got), u"Zhangsan");
  EXPECT_EQ(ChooserRows(), (std::vector<std::u16string>{u"-"}));

  // Nothing in either order: the second call shows an empty chooser.
  Script("");
  query.dn = u"CN=Nobody";
  got = Select({&my, 1}, query);
  EXPECT_EQ(got, nullptr);
  EXPECT_EQ(ChooserRows(), (std::vector<std::u16string>{}));

  // Two matches and Cancel: no second call.
  Script("cancel\nchoose 0\n");
  query.dn = u"CN=Twin";
  EXPECT_EQ(Select({&my, 1}, query), nullptr);
  EXPECT_EQ(ChooserRows(), (std::vector<std::u16string>{u"Twin", u"Twin"}));

  // Choosing the second row gives the second candidate, not the first.
  Script("choose 1\n");
  got = Select({&my, 1}, query);
  ASSERT_NE(got, nullptr);
  EXPECT_EQ(got->thumbprint(), twins[1]);
}

TEST_F(SelectionTest, ServerModeTakesTheFirstMatchAndNoDnAsksForAll) {
  CertStore my = Open(u"MY");
  const std::vector<std::string> twins = AddTwins(my);
  SignerQuery query;
  CertContextPtr got;

  // Server mode: the first match, no key filter, never a dialog.
  Script("");
  query.server_mode = true;
  query.dn = u"CN=Keyless";
  EXPECT_EQ(DisplayName(Select({&my, 1}, query)), u"Keyless");
  query.dn = u"CN=Twin";
  got = Select({&my, 1}, query);
  ASSERT_NE(got, nullptr);
  EXPECT_EQ(got->thumbprint(), twins[0]);
  EXPECT_TRUE(Reports().empty());

  // No DN: the chooser over every certificate with a key, even in server mode.
  Script("choose 2\n");
  query.dn = u"";
  got = Select({&my, 1}, query);
  ASSERT_NE(got, nullptr);
  std::vector<std::u16string> rows = ChooserRows();
  EXPECT_EQ(Sorted(rows), (std::vector<std::u16string>{u"Twin", u"Twin", u"Zhangsan"}));
  EXPECT_EQ(DisplayName(got), rows[2]);
}

TEST_F(SelectionTest, SameCertificateInTwoStoresIsListedTwiceAndFoundInTheFirst) {
  CertStore ca = Open(u"CA");
  CertStore root = Open(u"ROOT");
  CertStore book = Open(u"AddressBOOK");
  Spec dave{Name({{"O", "Bank"}, {"CN", "Dave"}}), {0x07}, kNoKey};
  Add(ca, dave);
  Add(book, dave);
  const CertStore recipients[] = {std::move(ca), std::move(root), std::move(book)};

  for (const char* answer : {"choose 0\n", "choose 1\n"}) {
    Script(answer);
    CertContextPtr got = Select(recipients, {.dn = u"CN=Dave"});
    ASSERT_NE(got, nullptr);
    EXPECT_EQ(got->store_name(), "CA");
    EXPECT_EQ(ChooserRows(), (std::vector<std::u16string>{u"Dave", u"Dave"}));
  }
  // Searched alone, a store only offers certificates with a key: nothing
  // matched, and the retry's chooser lists nothing.
  Script("");
  EXPECT_EQ(Select({&recipients[0], 1}, {.dn = u"CN=Dave"}), nullptr);
  EXPECT_EQ(ChooserRows(), (std::vector<std::u16string>{}));
}

TEST_F(SelectionTest, KeySpecFilter) {
  CertStore my = Open(u"MY");
  Add(my, {Name({{"CN", "Signer"}}), {0x01}, pf::kAtKeyExchange});
  CertContextPtr sig = Add(my, {Name({{"CN", "Signer"}}), {0x02}, pf::kAtSignature});
  const SignerQuery any_key{.dn = u"CN=Signer"};
  const SignerQuery sign_key{.dn = u"CN=Signer", .key = KeyRule::kSignatureKey};

  Script("cancel\n");
  EXPECT_EQ(Select({&my, 1}, any_key), nullptr);
  EXPECT_EQ(ChooserRows(), (std::vector<std::u16string>{u"Signer", u"Signer"}));

  Script("");
  CertContextPtr got = Select({&my, 1}, sign_key);
  ASSERT_NE(got, nullptr);
  EXPECT_EQ(got->thumbprint(), sig->thumbprint());
  EXPECT_EQ(ChooserRows(), (std::vector<std::u16string>{u"-"}));

  Script("choose 0\n");
  got = Select({&my, 1}, {.key = KeyRule::kSignatureKey});  // asks even for one candidate
  ASSERT_NE(got, nullptr);
  EXPECT_EQ(got->thumbprint(), sig->thumbprint());
  EXPECT_EQ(ChooserRows(), (std::vector<std::u16string>{u"Signer"}));

  // A property that cannot be read: not eligible for the private-key rule
  // (nothing matched: the retry's chooser lists nothing), and the end of the
  // whole selection for the signature-key rule (no chooser at all, not even
  // the retry's).
  Add(my, {Name({{"CN", "Broken"}}), {0x03}, kUnreadableKey});
  Script("cancel\n");
  EXPECT_EQ(Select({&my, 1}, {.dn = u"CN=Broken"}), nullptr);
  EXPECT_EQ(ChooserRows(), (std::vector<std::u16string>{}));
  Script("cancel\n");
  EXPECT_EQ(Select({&my, 1}, sign_key), nullptr);
  EXPECT_EQ(Select({&my, 1}, {.key = KeyRule::kSignatureKey}), nullptr);
  EXPECT_EQ(ChooserRows(), (std::vector<std::u16string>{u"-"}));
}

TEST_F(SelectionTest, Sm2SplitByPreference) {
  const std::array<CertStore, 2> both = Sm2Stores();

  struct {
    std::u16string_view dn;
    int preference;
    std::u16string_view selected;
  } cases[] = {
      // "CN=Wang" matches one certificate of each kind.
      {u"CN=Wang", 1, u"Wang"},
      {u"CN=Wang", 2, u"Wang SM2"},
      {u"CN=Wang", 3, u"Wang"},
      {u"CN=Wang", 4, u"Wang SM2"},
      {u"CN=Wang", 0, u"Wang SM2"},  // any other value prefers SM2
      // Only an SM2 certificate matches.
      {u"CN=Wang SM2", 1, u"none"},
      {u"CN=Wang SM2", 2, u"Wang SM2"},
      {u"CN=Wang SM2", 3, u"Wang SM2"},
      // Only a not-SM2 one.
      {u"CN=Li", 2, u"none"},
      {u"CN=Li", 4, u"Li"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.dn.begin(), c.dn.end()) + " " + std::to_string(c.preference));
    Script("");
    CertContextPtr got = Select(both, {.dn = c.dn, .sm2_forms = true, .sign_mode = c.preference});
    EXPECT_EQ(DisplayName(got), c.selected);
    // The key filter applies with two stores: the keyless SM2 copy never
    // shows. Nothing matched in the preferred list: the retry's chooser
    // lists nothing.
    if (c.selected == u"none") {
      EXPECT_EQ(ChooserRows(), (std::vector<std::u16string>{}));
    } else {
      EXPECT_EQ(ChooserRows(), (std::vector<std::u16string>{u"-"}));
    }
  }
}

TEST_F(SelectionTest, Sm2SplitWithoutDnAndInTheRetry) {
  const std::array<CertStore, 2> both = Sm2Stores();
  Script("cancel\ncancel\n");
  EXPECT_EQ(Select(both, {.sm2_forms = true, .sign_mode = kPreferNotSm2}), nullptr);
  EXPECT_EQ(Sorted(ChooserRows()), (std::vector<std::u16string>{u"Li", u"Wang"}));
  EXPECT_EQ(Select(both, {.sm2_forms = true, .sign_mode = kPreferSm2}), nullptr);
  EXPECT_EQ(ChooserRows(), (std::vector<std::u16string>{u"Wang SM2"}));

  // The reversed retry uses the same split.
  Script("");
  EXPECT_EQ(Select(both, {.dn = u"CN=Li", .sm2_forms = true, .sign_mode = kOnlySm2}), nullptr);
  EXPECT_EQ(ChooserRows(), (std::vector<std::u16string>{}));  // the forced empty chooser

  // Without the SM2 forms both kinds are one list, and two stores apply no
  // key filter: the keyless copy is offered too.
  Script("cancel\n");
  EXPECT_EQ(Select(both, {.dn = u"CN=Wang"}), nullptr);
  EXPECT_EQ(Sorted(ChooserRows()),
            (std::vector<std::u16string>{u"Wang", u"Wang SM2", u"Wang SM2 spare"}));
}

TEST_F(SelectionTest, SerialListsAndIssuer) {
  CertStore my = Open(u"MY");
  Bytes issuer = Name({{"C", "CN"}, {"O", "Bank"}, {"CN", "Issuing CA"}});
  Add(my, {Name({{"CN", "S1"}}), {0x0A, 0x1B}, pf::kAtKeyExchange, false, issuer});
  Add(my, {Name({{"CN", "S2"}}), {0x00, 0xFF}, pf::kAtKeyExchange, false, issuer});
  Add(my,
      {Name({{"CN", "S3"}}), {0x0A, 0x1B}, pf::kAtKeyExchange, false, Name({{"CN", "Other CA"}})});
  Add(my, {Name({{"CN", "S4"}}), {0x0C}, kNoKey, false, issuer});
  const std::u16string_view kIssuer = u"C=CN, O=Bank, CN=Issuing CA";

  std::u16string many;  // 20 serial numbers that match nothing, then one that would
  for (int i = 0; i < 20; ++i) many += u"7F ";
  many += u"0A1B";

  struct {
    std::u16string serials;
    std::u16string_view issuer;
    std::vector<std::u16string> rows;  // {"-"}: no dialog
    std::u16string_view selected;
  } cases[] = {
      {u"0A1B 00ff", kIssuer, {u"S1", u"S2"}, u""},
      {u"0A1B  00FF", kIssuer, {u"S1", u"S2"}, u""},  // doubled space
      {u"0A1B", kIssuer, {u"-"}, u"S1"},
      {u"A1B", kIssuer, {u"-"}, u"none"},      // odd length
      {u"0G12 00FF", kIssuer, {u"-"}, u"S2"},  // invalid token dropped
      {u"000A1B", kIssuer, {u"-"}, u"S1"},     // leading zeros do not count
      {u"0A1B 0a1b", kIssuer, {u"-"}, u"S1"},  // counted once
      {u"0A1B", u"C=CN,O=Bank,CN=Issuing CA", {u"-"}, u"S1"},
      {u"0A1B", u"CN=Other CA", {u"-"}, u"S3"},
      {u"0A1B", u"O=Bank, CN=Issuing CA", {u"-"}, u"none"},  // the whole issuer
      {u"0C", kIssuer, {u"-"}, u"none"},                     // no key property
      {many, kIssuer, {u"-"}, u"none"},                      // beyond 20 serial numbers
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.serials.begin(), c.serials.end()));
    Script("choose 1\n");
    CertContextPtr got = Select({&my, 1}, {.serial_list = c.serials, .issuer_dn = c.issuer});
    std::vector<std::u16string> rows = ChooserRows();
    if (c.rows[0] == u"-") {
      EXPECT_EQ(rows, c.rows);
      EXPECT_EQ(DisplayName(got), c.selected);
    } else {
      EXPECT_EQ(Sorted(rows), c.rows);
      EXPECT_EQ(DisplayName(got), rows[1]);
    }
  }

  // The protocol retries with the issuer reversed.
  Script("");
  EXPECT_EQ(DisplayName(Select(
                {&my, 1}, {.serial_list = u"0A1B", .issuer_dn = u"CN=Issuing CA, O=Bank, C=CN"})),
            u"S1");
  // No serial number: the chooser over everything with a key.
  Script("cancel\n");
  EXPECT_EQ(Select({&my, 1}, {.issuer_dn = kIssuer}), nullptr);
  EXPECT_EQ(Sorted(ChooserRows()), (std::vector<std::u16string>{u"S1", u"S2", u"S3"}));
}

TEST_F(SelectionTest, CancelledSerialChooserIsNotAskedAgainForTheSameIssuer) {
  CertStore my = Open(u"MY");
  Bytes solo = Name({{"CN", "Solo CA"}});
  Add(my, {Name({{"CN", "T1"}}), {0x01}, pf::kAtSignature, false, solo});
  Add(my, {Name({{"CN", "T2"}}), {0x02}, pf::kAtSignature, false, solo});
  auto host = std::make_unique<ui::ScriptDialogHost>("cancel\nchoose 0\n");
  ui::ScriptDialogHost* script = host.get();
  ui::SetCurrentDialogHost(std::move(host));
  EXPECT_EQ(
      Select({&my, 1},
             {.serial_list = u"01 02", .issuer_dn = u"CN=Solo CA", .key = KeyRule::kSignatureKey}),
      nullptr);
  EXPECT_EQ(Reports().size(), 1u);
  EXPECT_EQ(script->remaining(), 1u);
}

TEST_F(SelectionTest, TimeThatCannotBeShownGetsItsPlaceholderAndStillRefinds) {
  CertStore my = Open(u"MY");
  CertStore ca = Open(u"CA");
  testing::CertSpec spec;
  spec.subject = Name({{"CN", "Old"}});
  spec.subject_key = EcKey();
  spec.not_after = -11676096000;  // 1600-01-01, before any FILETIME
  ASSERT_TRUE(pf::CertAddEncodedCertificateToStore(
      ca, pf::kDefaultEncoding, testing::MakeCertificate(spec), pf::kCertStoreAddNew, nullptr));
  Add(my, {Name({{"CN", "New"}}), {0x02}, kNoKey});
  const CertStore both[] = {std::move(my), std::move(ca)};  // two stores: no key filter
  Script("choose 1\n");
  CertContextPtr got = Select(both, {});
  std::vector<ui::DialogReport> reports = Reports();
  ASSERT_EQ(reports.size(), 1u);
  ASSERT_EQ(reports[0].rows.size(), 2u);
  EXPECT_EQ(reports[0].rows[1].subject, u"Old");
  EXPECT_EQ(reports[0].rows[1].not_after, u"没有截止日期");
  EXPECT_EQ(DisplayName(got), u"Old");
}

}  // namespace
}  // namespace quillmark::certs
