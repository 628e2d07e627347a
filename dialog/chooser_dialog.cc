#include "chooser_dialog.h"

#include <QFontMetrics>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QVBoxLayout>

#include "ui_text.h"

namespace quillmark::dialog {

namespace gui = platform::ui::gui;

namespace {

constexpr int kItemRole = Qt::UserRole;

}  // namespace

ChooserDialog::ChooserDialog(const platform::ui::ChooserRequest& request, const QString& origin,
                             AnswerSink sink, QWidget* parent)
    : QDialog(parent), sink_(std::move(sink)) {
  setObjectName(QStringLiteral("chooser"));
  // For a web page the page's texts are its own words, framed and named as
  // such; the window's title and buttons are ours.
  const bool web = !origin.isEmpty();
  setWindowTitle(web ? TitleFor(tr("Choose a certificate"), origin)
                     : TitleFor(ToQ(request.title), origin));
  setSizeGripEnabled(true);

  auto* outer = new QVBoxLayout(this);
  if (QLabel* line = OriginLine(origin, this)) outer->addWidget(line);

  auto* body = new QHBoxLayout;
  auto* left = new QVBoxLayout;
  QVBoxLayout* page_words = left;
  if (web) {
    page_frame_ = new QGroupBox(tr("The page's words (not from Quillmark)"), this);
    page_frame_->setObjectName(QStringLiteral("page_words"));
    page_words = new QVBoxLayout(page_frame_);
    QLabel* title = PlainLabel(OneLine(ToQ(request.title)), page_frame_);
    title->setObjectName(QStringLiteral("page_title"));
    page_words->addWidget(title);
  }
  prompt_ = PlainLabel(ToQ(request.prompt), this);
  prompt_->setObjectName(QStringLiteral("prompt"));
  page_words->addWidget(prompt_);

  list_ = new QTreeWidget(this);
  list_->setObjectName(QStringLiteral("list"));
  list_->setColumnCount(3);
  list_->setRootIsDecorated(false);
  list_->setUniformRowHeights(true);
  list_->setAllColumnsShowFocus(true);
  list_->setSelectionMode(QAbstractItemView::SingleSelection);
  list_->setSelectionBehavior(QAbstractItemView::SelectRows);
  list_->setTextElideMode(Qt::ElideRight);
  list_->setSortingEnabled(false);
  list_->header()->setSectionsClickable(true);
  list_->header()->setSectionsMovable(false);
  list_->header()->setStretchLastSection(true);
  list_->header()->setSectionResizeMode(QHeaderView::Interactive);
  list_->setHeaderLabels({OneLine(ToQ(request.columns[0])), OneLine(ToQ(request.columns[1])),
                          OneLine(ToQ(request.columns[2]))});
  prompt_->setBuddy(list_);

  notice_ = new QPlainTextEdit(this);
  notice_->setObjectName(QStringLiteral("notice"));
  notice_->setReadOnly(true);
  notice_->setTabChangesFocus(true);
  notice_->setPlainText(ToQ(request.notice));
  notice_->setFixedHeight(QFontMetrics(notice_->font()).lineSpacing() * 3 + 12);
  if (web) {
    page_words->addWidget(notice_);
    QLabel* labels =
        PlainLabel(tr("Button names the page asked for: %1 / %2 / %3")
                       .arg(OneLine(ToQ(request.buttons[0])), OneLine(ToQ(request.buttons[1])),
                            OneLine(ToQ(request.buttons[2]))),
                   page_frame_);
    labels->setObjectName(QStringLiteral("page_buttons"));
    page_words->addWidget(labels);
    left->addWidget(page_frame_);
    left->addWidget(list_, 1);
  } else {
    left->addWidget(list_, 1);
    left->addWidget(notice_);
  }
  if (request.review.has_value()) {
    review_ = new ReviewPane(
        *request.review, [this] { UpdateButtons(); }, this);
    left->addWidget(review_, 1);
  }
  body->addLayout(left, 1);

  auto* buttons = new QVBoxLayout;
  ok_ = new QPushButton(
      web ? (review_ != nullptr ? tr("Sign") : tr("OK")) : ToQ(request.buttons[0]), this);
  ok_->setObjectName(QStringLiteral("ok"));
  ok_->setDefault(true);
  cancel_ = new QPushButton(web ? tr("Cancel") : ToQ(request.buttons[1]), this);
  cancel_->setObjectName(QStringLiteral("cancel"));
  view_ = new QPushButton(web ? tr("View") : ToQ(request.buttons[2]), this);
  view_->setObjectName(QStringLiteral("view"));
  for (QPushButton* b : {ok_, cancel_, view_}) b->setMinimumWidth(88);
  buttons->addWidget(ok_);
  buttons->addWidget(cancel_);
  buttons->addStretch(1);
  buttons->addWidget(view_);
  body->addLayout(buttons);
  outer->addLayout(body, 1);

  connect(ok_, &QPushButton::clicked, this, [this] { Choose(); });
  connect(cancel_, &QPushButton::clicked, this, [this] { reject(); });
  connect(view_, &QPushButton::clicked, this, [this] { View(); });
  connect(list_, &QTreeWidget::itemDoubleClicked, this, [this] { View(); });
  connect(list_, &QTreeWidget::itemSelectionChanged, this, [this] { UpdateButtons(); });
  connect(list_->header(), &QHeaderView::sectionClicked, this, [this](int c) { Sort(c); });

  Show(request);
  // Three columns of a useful width, and room for about eight rows.
  const int column = QFontMetrics(list_->font()).averageCharWidth() * 26;
  for (int c = 0; c < 3; ++c) list_->setColumnWidth(c, column);
  resize(column * 3 + 160, sizeHint().height() + (review_ != nullptr ? 40 : 140));
  list_->setFocus();
}

void ChooserDialog::Show(const platform::ui::ChooserRequest& request) {
  const int before = SelectedItem();
  const int wanted = request.selected >= 0 ? request.selected : before;
  list_->clear();
  QTreeWidgetItem* selected = nullptr;
  for (const platform::ui::ChooserRow& row : request.rows) {
    auto* item = new QTreeWidgetItem(list_);
    const QString texts[3] = {OneLine(ToQ(row.subject)), OneLine(ToQ(row.issuer)),
                              OneLine(ToQ(row.not_after))};
    for (int c = 0; c < 3; ++c) {
      item->setText(c, texts[c]);
      item->setToolTip(c, texts[c]);
    }
    item->setData(0, kItemRole, row.item);
    if (row.item == wanted) selected = item;
  }
  if (selected != nullptr) {
    list_->setCurrentItem(selected);
    selected->setSelected(true);
    list_->scrollToItem(selected);
  } else if (list_->topLevelItemCount() > 0) {
    // The keyboard starts on the top row without selecting it: Down selects
    // the second, Space or Up the first.
    list_->selectionModel()->setCurrentIndex(list_->model()->index(0, 0),
                                             QItemSelectionModel::NoUpdate);
  }
  waiting_ = false;
  UpdateButtons();
}

QList<int> ChooserDialog::DisplayedItems() const {
  QList<int> items;
  for (int i = 0; i < list_->topLevelItemCount(); ++i) {
    items.append(list_->topLevelItem(i)->data(0, kItemRole).toInt());
  }
  return items;
}

int ChooserDialog::SelectedItem() const {
  const QList<QTreeWidgetItem*> selected = list_->selectedItems();
  return selected.isEmpty() ? -1 : selected.first()->data(0, kItemRole).toInt();
}

void ChooserDialog::UpdateButtons() {
  ok_->setEnabled(SelectedItem() >= 0 && (review_ == nullptr || review_->end_shown()));
}

void ChooserDialog::Answer(const gui::Answer& answer, bool closes) {
  if (waiting_ || answered_) return;
  if (closes) {
    answered_ = true;
  } else {
    waiting_ = true;
  }
  sink_(answer);
}

void ChooserDialog::Choose() {
  const int item = SelectedItem();
  if (item < 0 || waiting_ || answered_) return;
  if (review_ != nullptr && !review_->end_shown()) return;
  gui::Answer a;
  a.action = gui::Answer::Action::kChoose;
  a.item = item;
  Answer(a, true);
  accept();
}

void ChooserDialog::View() {
  gui::Answer a;
  a.action = gui::Answer::Action::kView;
  a.item = SelectedItem();
  Answer(a, false);
}

void ChooserDialog::Sort(int column) {
  gui::Answer a;
  a.action = gui::Answer::Action::kSort;
  a.column = column;
  Answer(a, false);
}

void ChooserDialog::reject() {
  if (waiting_) return;
  if (!answered_) {
    gui::Answer a;
    a.action = gui::Answer::Action::kCancel;
    Answer(a, true);
  }
  QDialog::reject();
}

}  // namespace quillmark::dialog
