// The favourite topics window: lists the Checker's Favorites (title and
// forum), opens one in the browser, deletes one or all of them, and sorts by
// a column. Each row's key is the index of its Favorites entry, so it stays
// tied to its entry through sorting and deletions. Every deletion is written
// to data.dat at once.
//
//   TFavoritesForm form(context);
//   form.ShowModal();
#pragma once

#include <string>
#include <vector>

#include "ui/WindowContext.h"
#include "widgets/Button.h"
#include "widgets/Form.h"
#include "widgets/ListView.h"

namespace zelt {

// The three fields of a Favorites entry, each ended by the character 17; a
// field without its end takes the rest of the entry.
struct TFavoriteFields {
  std::string Title, Forum, Link;
};
TFavoriteFields SplitFavorite(const std::string& entry);

// The list's columns, in their order.
enum class TFavoriteColumn { Title, Forum };

class TFavoritesForm final : public TForm {
 public:
  static constexpr const char* kTitle = "Избранные темы";
  static constexpr int kWidth = 425;
  static constexpr int kHeight = 193;

  explicit TFavoritesForm(const TWindowContext& context);

  void Open();
  void Delete();
  void Clear();
  void Sort(TFavoriteColumn column);

  // The Favorites index a row stands for.
  int EntryOf(int row) const { return static_cast<int>(list_.Key(row)); }
  TListView& List() { return list_; }
  TButton& ClearButton() { return clear_; }
  TButton& DeleteButton() { return delete_; }

 protected:
  // Delete acts in the list.
  bool OnKeyDown(UINT vk) override;

 private:
  TChecker& checker_;
  TListView list_;
  TButton clear_, delete_;
  // Entry i is the link of Favorites entry i.
  std::vector<std::string> links_;
  TListView::SortOrder order_ = TListView::SortOrder::None;
};

}  // namespace zelt
