// The favourite topics window: lists the Checker's Favorites (title and
// forum), opens one in the browser, deletes one or all of them, and sorts by
// a column. Each row carries the index of its Favorites entry, so it stays
// tied to its entry through sorting and deletions. Every deletion is written
// to data.dat at once.
//
//   TFavoritesForm form(owner, *Checker);
//   form.ShowModal();
#pragma once

#include <string>
#include <vector>

#include "widgets/Button.h"
#include "widgets/Form.h"
#include "widgets/ListView.h"

namespace zelt {

class TChecker;

// The three fields of a Favorites entry, each ended by the character 17; a
// field without its end takes the rest of the entry.
struct TFavoriteFields {
  std::string Title, Forum, Link;
};
TFavoriteFields SplitFavorite(const std::string& entry);

class TFavoritesForm final : public TForm {
 public:
  static constexpr int kWidth = 425;
  static constexpr int kHeight = 193;

  TFavoritesForm(HWND owner, TChecker& checker);

  void Open();
  void Delete();
  void Clear();
  void Sort(int column);

  // The Favorites index a row stands for.
  int EntryOf(int row) const;
  TListView& List() { return list_; }
  TButton& ClearButton() { return clear_; }
  TButton& DeleteButton() { return delete_; }

 protected:
  // Delete acts in the list.
  bool OnKeyDown(UINT vk) override;

 private:
  void SetEntryOf(int row, int entry);

  TChecker& checker_;
  TListView list_;
  TButton clear_, delete_;
  // Entry i is the link of Favorites entry i.
  std::vector<std::string> links_;
  TListView::SortOrder order_ = TListView::SortOrder::None;
};

}  // namespace zelt
