#include "ui/uFavoritesForm.h"

#include <commctrl.h>

#include <cstdint>

#include "core/uChecker.h"
#include "widgets/Desktop.h"
#include "widgets/Dpi.h"

namespace zelt {

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

TFavoritesForm::TFavoritesForm(HWND owner, TChecker& checker) : checker_(checker) {
  CreateForm("Избранные темы", "Избранные темы", kWidth, kHeight, owner);
  const HWND body = Body();
  list_.Create(body, 8, 24, 409, 137);
  list_.SetAccessibleName(Strip().Text());
  list_.AddColumn("Тема", 300);
  list_.AddColumn("Форум", 150);
  const TStringList& favorites = checker_.Favorites();
  for (size_t i = 0; i < favorites.Count(); ++i) {
    const TFavoriteFields f = SplitFavorite(favorites[i]);
    const int row = list_.AddRow(f.Title, -1, reinterpret_cast<void*>(static_cast<intptr_t>(i)));
    list_.SetCell(row, 1, f.Forum);
    links_.push_back(f.Link);
  }
  list_.SetColumnWidth(1, 150);
  list_.SetColumnWidthPx(0, list_.ClientWidthPx() - Scale(150));
  list_.OnDoubleClick = [this] { Open(); };
  list_.OnColumnClick = [this](int column) { Sort(column); };

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

int TFavoritesForm::EntryOf(int row) const { return static_cast<int>(reinterpret_cast<intptr_t>(list_.Data(row))); }

void TFavoritesForm::SetEntryOf(int row, int entry) {
  LVITEMW item{};
  item.mask = LVIF_PARAM;
  item.iItem = row;
  item.lParam = entry;
  SendMessageW(list_.Handle(), LVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&item));
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
  SendMessageW(list_.Handle(), LVM_DELETEITEM, static_cast<WPARAM>(row), 0);
  if (entry >= 0 && static_cast<size_t>(entry) < links_.size()) links_.erase(links_.begin() + entry);
  // Rows of later entries move down by one, so each stays tied to its own entry.
  for (int r = 0; r < list_.Count(); ++r) {
    const int e = EntryOf(r);
    if (e > entry) SetEntryOf(r, e - 1);
  }
  checker_.DeleteFavorite(static_cast<size_t>(entry));  // a row without an entry deletes none
}

void TFavoritesForm::Clear() {
  links_.clear();
  list_.Clear();
  checker_.ClearFavorites();
}

void TFavoritesForm::Sort(int column) {
  // One direction for every column: the first click sorts ascending, each
  // further click on any header reverses it.
  order_ =
      order_ == TListView::SortOrder::Ascending ? TListView::SortOrder::Descending : TListView::SortOrder::Ascending;
  list_.SortByColumn(column, order_);
}

bool TFavoritesForm::OnKeyDown(UINT vk) {
  if (vk == VK_DELETE && GetFocus() == list_.Handle()) {
    Delete();
    return true;
  }
  return TForm::OnKeyDown(vk);
}

}  // namespace zelt
