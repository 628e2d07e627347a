// The chooser's logic on a script host: texts and rows, the answer position,
// sorting with one direction flag, and View's temporary certificate file.
#include "certs/choose_cert_dlg.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <functional>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/os/files.h"
#include "platform/os/home.h"
#include "platform/store/cert_context_internal.h"
#include "platform/store/cert_store.h"
#include "platform/ui/script_host.h"
#include "support/cert_factory.h"
#include "support/test_dirs.h"

namespace quillmark::certs {
namespace {

namespace pf = quillmark::platform;
namespace ui = quillmark::platform::ui;
using testing::NameBuilder;

// A script host that also notes the rows in the order each chooser request
// shows them.
class RecordingHost : public ui::ScriptDialogHost {
 public:
  using ScriptDialogHost::ScriptDialogHost;
  std::vector<std::vector<std::u16string>> shown;

 protected:
  ChooserReply AskChooser(const ui::ChooserRequest& request) override {
    std::vector<std::u16string> subjects;
    for (std::size_t i = 0; i < request.rows.size(); ++i) {
      std::size_t k = request.display_order.empty() ? i : request.display_order[i];
      subjects.push_back(request.rows[k].subject);
    }
    shown.push_back(std::move(subjects));
    return ScriptDialogHost::AskChooser(request);
  }
};

// Sets an environment variable for the life of the object.
class EnvVar {
 public:
  EnvVar(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    ::setenv(name, value.c_str(), 1);
  }
  ~EnvVar() {
    if (old_) {
      ::setenv(name_, old_->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

class ChooseCertDlgTest : public ::testing::Test {
 protected:
  void SetUp() override {
    pf::SetQuillmarkHome(home_.path());
    pf::ClearCertStoreCache();
    store_ = pf::CertOpenStore(pf::kCertStoreProvSystemW, pf::kDefaultEncoding,
                               pf::kCertSystemStoreCurrentUser, u"MY");
    static testing::EvpPkeyPtr key = testing::MakeEcKey();
    // Candidate order b, a, C; issuers z, y, x.
    const char* rows[][2] = {{"b", "z"}, {"a", "y"}, {"C", "x"}};
    std::uint8_t serial = 1;
    for (const auto& row : rows) {
      testing::CertSpec spec;
      spec.subject = NameBuilder().Add("O", "Bank").Add("CN", row[0]).Der();
      spec.issuer = NameBuilder().Add("CN", row[1]).Der();
      spec.subject_key = key.get();
      spec.serial = {serial++};
      pf::CertContextPtr added;
      ASSERT_TRUE(pf::CertAddEncodedCertificateToStore(store_, pf::kDefaultEncoding,
                                                       testing::MakeCertificate(spec),
                                                       pf::kCertStoreAddNew, &added));
      AppendCandidate(*added, nullptr, &list_);
      certs_.push_back(added);
    }
  }
  void TearDown() override {
    pf::ClearCertStoreCache();
    pf::SetQuillmarkHome("");
  }

  StoreList stores() const { return {&store_, 1}; }

  testing::ScratchDir home_;
  pf::CertStore store_;
  CandidateList list_;
  std::vector<pf::CertContextPtr> certs_;
  ChooserTexts texts_{
      u"", u"请在列表中选择证书",  u"主题", u"颁发者", u"截止日期", u"确定", u"取消",
      u"", u"Quillmark\r\nCorvane"};
};

TEST_F(ChooseCertDlgTest, TextsRowsAndAnswers) {
  {
    RecordingHost host("choose 2\n");
    CChooseCertDlg dlg(stores(), 3, list_, texts_);
    EXPECT_EQ(dlg.DoModal(host), CChooseCertDlg::kIdOk);
    EXPECT_EQ(dlg.selection(), 14);
    std::vector<ui::DialogReport> reports = host.TakeReports();
    ASSERT_EQ(reports.size(), 1u);
    const ui::DialogReport& r = reports[0];
    EXPECT_EQ(r.title, u"请选择您要用的证书");  // an empty title keeps the dialog's own
    EXPECT_EQ(r.prompt, u"请在列表中选择证书");
    EXPECT_EQ(r.columns[1], u"颁发者");
    EXPECT_EQ(r.buttons[2], u"");  // an empty text leaves its control empty
    EXPECT_EQ(r.notice, u"Quillmark\r\nCorvane");
    ASSERT_EQ(r.rows.size(), 3u);
    EXPECT_EQ(r.rows[0].subject, u"b");
    EXPECT_EQ(r.rows[0].issuer, u"z");
    EXPECT_EQ(r.rows[2].subject, u"C");
    EXPECT_EQ(r.rows[2].not_after, u"2030-01-01 00:00:00GMT");
    EXPECT_EQ(r.rows[2].item, 2);
  }
  struct {
    const char* script;
    int candidates;
    int result;
    int selection;
    std::size_t rows;
  } cases[] = {
      {"choose 0\n", 3, CChooseCertDlg::kIdOk, 4, 3},
      {"cancel\n", 3, CChooseCertDlg::kIdCancel, -1, 3},
      {"", 3, CChooseCertDlg::kIdCancel, -1, 3},            // the close box
      {"choose 7\n", 3, CChooseCertDlg::kIdCancel, -1, 3},  // OK without a row of the list
      {"choose 0\n", 4, CChooseCertDlg::kIdCancel, -1, 0},  // count and list disagree
      {"choose 0\n", 0, CChooseCertDlg::kIdCancel, -1, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.script);
    RecordingHost host(c.script);
    CChooseCertDlg dlg(stores(), c.candidates, list_, texts_);
    EXPECT_EQ(dlg.DoModal(host), c.result);
    EXPECT_EQ(dlg.selection(), c.selection);
    EXPECT_EQ(dlg.request().rows.size(), c.rows);
  }
}

TEST_F(ChooseCertDlgTest, ColumnClicksShareOneDirectionFlag) {
  RecordingHost host("sort 0\nsort 0\nsort 1\nsort 0\nchoose 1\n");
  CChooseCertDlg dlg(stores(), 3, list_, texts_);
  EXPECT_EQ(dlg.DoModal(host), CChooseCertDlg::kIdOk);
  using Rows = std::vector<std::u16string>;
  ASSERT_EQ(host.shown.size(), 5u);
  EXPECT_EQ(host.shown[0], (Rows{u"b", u"a", u"C"}));  // candidate order
  EXPECT_EQ(host.shown[1], (Rows{u"b", u"a", u"C"}));  // subjects descending, by code unit
  EXPECT_EQ(host.shown[2], (Rows{u"C", u"a", u"b"}));  // ascending
  EXPECT_EQ(host.shown[3], (Rows{u"b", u"a", u"C"}));  // issuers descending: z, y, x
  EXPECT_EQ(host.shown[4], (Rows{u"C", u"a", u"b"}));  // subjects ascending
  // The answer follows the item data, not the display row.
  EXPECT_EQ(dlg.selection(), 9);
  std::vector<ui::DialogReport> reports = host.TakeReports();
  ASSERT_EQ(reports.size(), 5u);
  EXPECT_EQ(reports[3].answer, u"sort 0");
  EXPECT_EQ(reports[3].rows[0].subject, u"b");  // reports keep candidate order
}

// A folder of mode 0700, as $XDG_RUNTIME_DIR is.
std::string RuntimeDir(const testing::ScratchDir& tmp, const std::string& name, unsigned mode) {
  const std::string dir = tmp.File(name);
  EXPECT_EQ(::mkdir(dir.c_str(), 0700), 0);
  EXPECT_EQ(::chmod(dir.c_str(), mode), 0);
  return dir;
}

// The viewer files in |folder|.
std::vector<std::string> ViewFiles(const std::string& folder) {
  std::vector<std::string> files;
  for (const std::string& name : pf::ListDirectory(folder)) {
    if (name.starts_with("view-")) files.push_back(name);
  }
  return files;
}

TEST_F(ChooseCertDlgTest, ViewWritesAPrivateFileTheViewerReadsAfterTheDialog) {
  testing::ScratchDir tmp;
  EnvVar runtime("XDG_RUNTIME_DIR", RuntimeDir(tmp, "run", 0700));
  // A stand-in desktop handler that copies what it is asked to open, later.
  std::string opened = tmp.File("opened.cer");
  ASSERT_TRUE(pf::MakeDirectories(tmp.File("bin")));
  std::string handler = tmp.File("bin/xdg-open");
  ASSERT_TRUE(testing::WriteBytes(
      handler, AsBytes("#!/bin/sh\nsleep 0.3\ncp \"$1\" '" + opened + ".part' && mv '" + opened +
                       ".part' '" + opened + "'\n")));
  ASSERT_EQ(::chmod(handler.c_str(), 0755), 0);
  // ... which the desktop names as its program for certificates.
  const std::string mime = tmp.File("bin/xdg-mime");
  ASSERT_TRUE(testing::WriteBytes(mime, AsBytes("#!/bin/sh\necho certificate-viewer.desktop\n")));
  ASSERT_EQ(::chmod(mime.c_str(), 0755), 0);
  EnvVar display("DISPLAY", ":99");
  EnvVar path("PATH", tmp.File("bin") + ":" + std::getenv("PATH"));

  const std::string folder = tmp.File("run/quillmark-view");
  std::string file;
  Bytes written;
  {
    RecordingHost host("view\nview 1\nview\ncancel\n");
    CChooseCertDlg dlg(stores(), 3, list_, texts_);
    EXPECT_EQ(dlg.DoModal(host), CChooseCertDlg::kIdCancel);
    EXPECT_EQ(dlg.selection(), -1);
    file = dlg.temp_file_path();
    ASSERT_TRUE(file.starts_with(folder + "/view-")) << file;
    EXPECT_TRUE(file.ends_with(".cer"));
    ASSERT_TRUE(pf::ReadWholeFile(file, &written));
    EXPECT_EQ(written, Bytes(certs_[1]->der().begin(), certs_[1]->der().end()));
    struct stat st;
    ASSERT_EQ(::lstat(file.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(st.st_uid, ::geteuid());
    ASSERT_EQ(::lstat(folder.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(st.st_uid, ::geteuid());
    // Each View writes a file of its own.
    EXPECT_EQ(ViewFiles(folder).size(), 2u);

    std::vector<ui::DialogReport> reports = host.TakeReports();
    ASSERT_EQ(reports.size(), 5u);
    EXPECT_EQ(reports[0].answer, u"view");
    EXPECT_EQ(reports[1].kind, ui::DialogKind::kMessage);
    EXPECT_EQ(reports[1].text, u"No certificate selected.");
    EXPECT_EQ(reports[1].caption, u"");
    EXPECT_EQ(reports[2].answer, u"view 1");
    EXPECT_EQ(reports[3].answer, u"view 1");  // the row stays selected
    EXPECT_EQ(reports[4].answer, u"cancel");
  }
  // The dialog is gone before the handler reads: the file is still there.
  EXPECT_TRUE(pf::IsRegularFile(file));
  for (int i = 0; i < 200 && !pf::IsRegularFile(opened); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  Bytes seen;
  ASSERT_TRUE(pf::ReadWholeFile(opened, &seen));
  EXPECT_EQ(seen, written);

  // A later View removes the files that have outlived their lifetime, and
  // only files of its own kind.
  const std::string stale = folder + "/view-0000000000000000.cer";
  const std::string other = folder + "/notes.txt";
  ASSERT_TRUE(testing::WriteBytes(stale, AsBytes("old")));
  ASSERT_TRUE(testing::WriteBytes(other, AsBytes("old")));
  const struct timespec old_times[2] = {{::time(nullptr) - 3600, 0}, {::time(nullptr) - 3600, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, stale.c_str(), old_times, 0), 0);
  ASSERT_EQ(::utimensat(AT_FDCWD, other.c_str(), old_times, 0), 0);
  {
    RecordingHost host("view 0\ncancel\n");
    CChooseCertDlg dlg(stores(), 3, list_, texts_);
    dlg.DoModal(host);
  }
  EXPECT_FALSE(pf::IsRegularFile(stale));
  EXPECT_TRUE(pf::IsRegularFile(other));
  EXPECT_TRUE(pf::IsRegularFile(file)) << "a recent file stays";
  EXPECT_EQ(ViewFiles(folder).size(), 3u);
}

TEST_F(ChooseCertDlgTest, ViewRefusesFoldersItDoesNotOwnAlone) {
  testing::ScratchDir tmp;
  const std::string run = RuntimeDir(tmp, "run", 0700);
  const std::string folder = run + "/quillmark-view";
  const std::string elsewhere = RuntimeDir(tmp, "elsewhere", 0700);
  EnvVar runtime("XDG_RUNTIME_DIR", run);
  struct Case {
    const char* what;
    std::function<void()> plant;
  };
  const Case cases[] = {
      {"a file where the folder goes",
       [&] { ASSERT_TRUE(testing::WriteBytes(folder, AsBytes("x"))); }},
      {"a link to another folder",
       [&] { ASSERT_EQ(::symlink(elsewhere.c_str(), folder.c_str()), 0); }},
      {"a folder others can read",
       [&] {
         ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
         ASSERT_EQ(::chmod(folder.c_str(), 0755), 0);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    c.plant();
    RecordingHost host("view 0\nchoose 0\n");
    CChooseCertDlg dlg(stores(), 3, list_, texts_);
    EXPECT_EQ(dlg.DoModal(host), CChooseCertDlg::kIdOk);
    EXPECT_EQ(dlg.temp_file_path(), "");
    std::vector<ui::DialogReport> reports = host.TakeReports();
    ASSERT_EQ(reports.size(), 3u);
    EXPECT_EQ(reports[1].text, u"Create temporary file failed");
    EXPECT_TRUE(pf::ListDirectory(elsewhere).empty()) << "nothing written through the link";
    ASSERT_EQ(::remove(folder.c_str()), 0);
  }

  // A runtime folder that others may write into, or none: the private folder
  // goes into the home folder instead.
  for (const char* runtime_dir : {"shared", ""}) {
    SCOPED_TRACE(runtime_dir);
    const std::string dir = *runtime_dir != '\0' ? RuntimeDir(tmp, runtime_dir, 0777) : "";
    EnvVar moved("XDG_RUNTIME_DIR", dir);
    RecordingHost host("view 0\ncancel\n");
    CChooseCertDlg dlg(stores(), 3, list_, texts_);
    dlg.DoModal(host);
    EXPECT_TRUE(dlg.temp_file_path().starts_with(home_.path() + "/view/view-"))
        << dlg.temp_file_path();
    if (!dir.empty()) {
      EXPECT_TRUE(pf::ListDirectory(dir).empty());
    }
  }
}

TEST_F(ChooseCertDlgTest, ViewFailuresLeaveNoFileBehind) {
  testing::ScratchDir tmp;
  // A path longer than 127 units stops View without a word.
  {
    std::string deep = tmp.path() + "/" + std::string(120, 'd');
    ASSERT_TRUE(pf::MakeDirectories(deep));
    EnvVar runtime("XDG_RUNTIME_DIR", deep);
    RecordingHost host("view 0\ncancel\n");
    CChooseCertDlg dlg(stores(), 3, list_, texts_);
    dlg.DoModal(host);
    EXPECT_EQ(host.TakeReports().size(), 2u);
    EXPECT_EQ(dlg.temp_file_path(), "");
    EXPECT_TRUE(ViewFiles(deep + "/quillmark-view").empty());
  }
  // A candidate that is no longer in the store: nothing to show.
  {
    EnvVar runtime("XDG_RUNTIME_DIR", RuntimeDir(tmp, "run", 0700));
    ASSERT_TRUE(pf::CertDeleteCertificateFromStore(certs_[2]));
    RecordingHost host("view 2\nview 0\ncancel\n");
    CChooseCertDlg dlg(stores(), 3, list_, texts_);
    dlg.DoModal(host);
    EXPECT_EQ(host.TakeReports().size(), 3u);
    EXPECT_TRUE(dlg.temp_file_path().starts_with(tmp.File("run/quillmark-view/view-")));
    Bytes written;
    ASSERT_TRUE(pf::ReadWholeFile(dlg.temp_file_path(), &written));
    EXPECT_EQ(written, Bytes(certs_[0]->der().begin(), certs_[0]->der().end()));
    EXPECT_EQ(ViewFiles(tmp.File("run/quillmark-view")).size(), 1u);
  }
}

}  // namespace
}  // namespace quillmark::certs
