// The certificate viewer of `quillmark-dialog --view FILE`: three tabs with
// the fields, the extensions and the chain (cert_view_texts.h), and Close.
#ifndef QUILLMARK_DIALOG_CERT_VIEWER_H_
#define QUILLMARK_DIALOG_CERT_VIEWER_H_

#include <QDialog>
#include <QTreeWidget>

#include "cert_view_texts.h"

namespace quillmark::dialog {

class CertViewer : public QDialog {
 public:
  explicit CertViewer(const CertView& view, QWidget* parent = nullptr);

  QTreeWidget* fields() const { return fields_; }
  QTreeWidget* extensions() const { return extensions_; }
  QTreeWidget* chain() const { return chain_; }
  // The value shown for field |name|, or a null string.
  QString FieldValue(const QString& name) const;

 private:
  QTreeWidget* fields_;
  QTreeWidget* extensions_;
  QTreeWidget* chain_;
};

}  // namespace quillmark::dialog

#endif  // QUILLMARK_DIALOG_CERT_VIEWER_H_
