#include "cert_viewer.h"

#include <QDialogButtonBox>
#include <QFontMetrics>
#include <QHeaderView>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include "ui_text.h"

namespace quillmark::dialog {

namespace {

QTreeWidget* Table(const QStringList& headers, const char* name, QWidget* parent) {
  auto* t = new QTreeWidget(parent);
  t->setObjectName(QLatin1String(name));
  t->setColumnCount(static_cast<int>(headers.size()));
  t->setHeaderLabels(headers);
  t->setRootIsDecorated(false);
  t->setAllColumnsShowFocus(true);
  t->setWordWrap(true);
  t->header()->setStretchLastSection(true);
  return t;
}

void AddRow(QTreeWidget* table, const QStringList& texts) {
  auto* item = new QTreeWidgetItem(table, texts);
  for (int c = 0; c < texts.size(); ++c) item->setToolTip(c, texts[c]);
}

}  // namespace

CertViewer::CertViewer(const CertView& view, QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("viewer"));
  QString subject;
  for (const CertView::Field& f : view.fields) {
    if (f.name == u"Subject") subject = OneLine(ToQ(f.value));
  }
  setWindowTitle(tr("Certificate: %1").arg(subject));
  setSizeGripEnabled(true);

  auto* layout = new QVBoxLayout(this);
  auto* tabs = new QTabWidget(this);
  fields_ = Table({tr("Field"), tr("Value")}, "fields", tabs);
  for (const CertView::Field& f : view.fields) AddRow(fields_, {ToQ(f.name), ToQ(f.value)});
  tabs->addTab(fields_, tr("&Fields"));

  extensions_ = Table({tr("Extension"), tr("Critical"), tr("Value")}, "extensions", tabs);
  for (const CertView::Extension& e : view.extensions) {
    AddRow(extensions_, {ToQ(e.name), e.critical ? tr("yes") : tr("no"), ToQ(e.text)});
  }
  tabs->addTab(extensions_, tr("&Extensions"));

  auto* chain_page = new QWidget(tabs);
  auto* chain_layout = new QVBoxLayout(chain_page);
  chain_ = Table({tr("Certificate"), tr("Store"), tr("Status")}, "chain", chain_page);
  for (const CertView::Link& l : view.chain) {
    AddRow(chain_, {ToQ(l.subject), ToQ(l.store), ToQ(l.status)});
  }
  chain_layout->addWidget(chain_, 1);
  QLabel* verdict = PlainLabel(ToQ(view.verdict), chain_page);
  verdict->setObjectName(QStringLiteral("verdict"));
  chain_layout->addWidget(verdict);
  tabs->addTab(chain_page, tr("C&hain"));
  layout->addWidget(tabs, 1);

  auto* box = new QDialogButtonBox(QDialogButtonBox::Close, this);
  box->button(QDialogButtonBox::Close)->setObjectName(QStringLiteral("close"));
  connect(box, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(box);

  const int chars = QFontMetrics(font()).averageCharWidth();
  for (QTreeWidget* t : {fields_, extensions_, chain_}) t->setColumnWidth(0, chars * 28);
  resize(chars * 100, QFontMetrics(font()).lineSpacing() * 28);
}

QString CertViewer::FieldValue(const QString& name) const {
  for (int i = 0; i < fields_->topLevelItemCount(); ++i) {
    if (fields_->topLevelItem(i)->text(0) == name) return fields_->topLevelItem(i)->text(1);
  }
  return QString();
}

}  // namespace quillmark::dialog
