#include "ui/uFavoritesForm.h"

#include "core/uChecker.h"
#include "widgets/Desktop.h"

namespace zelt {

namespace {

constexpr TListColumn kColumns[] = {{"Тема", 300, 0}, {"Форум", 150, 150}};

std::string Cell(const TFavoriteFields& fields, TFavoriteColumn column) {
  switch (column) {
    case TFavoriteColumn::Title:
      return fields.Title;
    case TFavoriteColumn::Forum:
      return fields.Forum;
  }
  return {};
}

}  // namespace

TFavoriteFields SplitFavorite(const std::string& entry) {
  TFavoriteFields f;
  std::string* fields[] = {&f.Title, &f.Forum, &f.Link};
  size_t start = 0;
  for (std::string* field : fields) {
    const size_t end = entry.find('\x11', start);
    if (end == std::string::npos) {
      *field = entry.substr(start);
      break;
    }
    *field = entry.substr(start, end - start);
    start = end + 1;
  }
  return f;
}

TFavoritesForm::TFavoritesForm(const TWindowContext& context) : checker_(context.Checker) {
  CreateForm(kTitle, kTitle, kWidth, kHeight, context.Owner);
  const HWND body = Body();
  list_.Create(body, 8, 24, 409, 137);
  list_.SetAccessibleName(Strip().Text());
  list_.AddColumns(kColumns);
  const TStringList& favorites = checker_.Favorites();
  for (size_t i = 0; i < favorites.Count(); ++i) {
    const TFavoriteFields f = SplitFavorite(favorites[i]);
    const int row = list_.AddRow(Cell(f, TFavoriteColumn::Title), -1, static_cast<intptr_t>(i));
    list_.SetCell(row, static_cast<int>(TFavoriteColumn::Forum), Cell(f, TFavoriteColumn::Forum));
    links_.push_back(f.Link);
  }
  list_.FitColumns(kColumns);
  list_.OnDoubleClick = [this] { Open(); };
  list_.OnColumnClick = [this](int column) { Sort(static_cast<TFavoriteColumn>(column)); };

  clear_.Create(body, 360, 162, 25, 24);
  clear_.SetPicture("FAVORITESFORM_ICCLEAR", 16);
  clear_.SetHint("Очистить");
  delete_.Create(body, 392, 162, 25, 24);
  delete_.SetPicture("FAVORITESFORM_ICDELETE", 16);
  delete_.SetHint("Удалить");
  clear_.OnClick = [this] { Clear(); };
  delete_.OnClick = [this] { Delete(); };

  CentreOnScreen();
}

void TFavoritesForm::Open() {
  const int row = list_.Selected();
  if (row < 0) return;
  const int entry = EntryOf(row);
  if (entry < 0 || static_cast<size_t>(entry) >= links_.size()) return;
  // Only a forum link goes to the shell: an entry edited in data.dat or made
  // from a hostile reply opens nothing (nor does an empty link).
  if (!IsForumLink(links_[static_cast<size_t>(entry)])) return;
  Desktop().Open(Handle(), links_[static_cast<size_t>(entry)]);
  // The browser took the foreground; this window comes back on top of it.
  SetWindowPos(Handle(), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  SetForegroundWindow(Handle());
}

void TFavoritesForm::Delete() {
  const int row = list_.Selected();
  if (row < 0) return;
  const int entry = EntryOf(row);
  list_.DeleteRow(row);
  if (entry >= 0 && static_cast<size_t>(entry) < links_.size()) links_.erase(links_.begin() + entry);
  // Rows of later entries move down by one, so each stays tied to its own entry.
  for (int r = 0; r < list_.Count(); ++r) {
    const int e = EntryOf(r);
    if (e > entry) list_.SetKey(r, e - 1);
  }
  checker_.DeleteFavorite(static_cast<size_t>(entry));  // a row without an entry deletes none
}

void TFavoritesForm::Clear() {
  links_.clear();
  list_.Clear();
  checker_.ClearFavorites();
}

void TFavoritesForm::Sort(TFavoriteColumn column) {
  // One direction for every column: the first click sorts ascending, each
  // further click on any header reverses it.
  order_ =
      order_ == TListView::SortOrder::Ascending ? TListView::SortOrder::Descending : TListView::SortOrder::Ascending;
  list_.SortByColumn(static_cast<int>(column), order_);
}

bool TFavoritesForm::OnKeyDown(UINT vk) {
  if (vk == VK_DELETE && GetFocus() == list_.Handle()) {
    Delete();
    return true;
  }
  return TForm::OnKeyDown(vk);
}

}  // namespace zelt
