// A list view in report mode: columns, rows with an image from a small image
// list and a key (a number the owner gives each row, kept through sorting;
// TListOf makes it a typed pointer), single whole-row selection shown also
// without focus, grid lines, info tips for truncated texts. Sorting compares
// the column texts with the platform's string comparison (user's default
// locale, case ignored), so "10" sorts before "9".
//
//   list_.Create(Body(), 8, 40, 601, 209);
//   list_.SetImages(strip);                 // image list owned by the caller
//   list_.AddColumn("Name", 300);
//   int row = list_.AddRow("text", 0, key); list_.SetCell(row, 1, "...");
//   list_.OnDoubleClick = [this] { ... };   list_.OnColumnClick = [](int c) {};
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "widgets/Control.h"

namespace zelt {

// A column as its list's table gives it.
struct TListColumn {
  const char* Header;
  int Width96;     // as made
  int FitWidth96;  // as fitted; 0: what the other columns leave of the client width
  bool Centred = false;
};

class TListView : public TControl {
 public:
  enum class SortOrder { None, Ascending, Descending };

  bool Create(HWND parent, int x, int y, int w, int h);
  // The columns keep their share of the list's width.
  void ChangeDpi(int dpi) override;
  void SetImages(HIMAGELIST images);
  // Width at 96 DPI.
  int AddColumn(const std::string& header, int width96);
  int ColumnCount() const;
  void SetColumnWidth(int column, int width96);
  // In pixels of the current DPI, as the control reports it.
  int ColumnWidthPx(int column) const;
  void SetColumnWidthPx(int column, int px);
  void SetColumnAlign(int column, int lvcfmt);  // LVCFMT_LEFT / LVCFMT_CENTER / ...
  // The columns of a table, in its order.
  void AddColumns(std::span<const TListColumn> columns);
  // The columns to their fitted widths, the one without a width taking the
  // rest (the client width leaves out a vertical scroll bar), the centred
  // ones centred.
  void FitColumns(std::span<const TListColumn> columns);

  // Appends a row (placed by the sorted style when one is set); returns its index.
  int AddRow(const std::string& text, int image, intptr_t key = 0);
  void SetCell(int row, int column, const std::string& text);
  std::string Cell(int row, int column) const;
  void SetImage(int row, int image);
  int Image(int row) const;
  // The row's key; 0 for a row that does not exist.
  intptr_t Key(int row) const;
  void SetKey(int row, intptr_t key);
  void DeleteRow(int row);
  int Count() const;
  void Clear();
  int Selected() const;  // -1 when no row is selected
  void Select(int row);
  // Client width: excludes a vertical scroll bar while one is shown.
  int ClientWidthPx() const;

  // Sorts the rows by the texts of a column and keeps the direction as the
  // control's sorted style, so rows added later are placed by their first
  // column's text.
  void SortByColumn(int column, SortOrder order);

  std::function<void()> OnDoubleClick;              // any mouse button
  std::function<void(int column)> OnColumnClick;
  std::function<void(POINT screen)> OnContextMenu;  // right click in the list

 protected:
  LRESULT OnMessage(UINT msg, WPARAM wp, LPARAM lp) override;
  bool OnReflect(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) override;

 private:
  void SetColours();
};

// A list whose rows stand for records of type T that the owner keeps alive
// while their rows exist: the key of a row is its record.
template <class T>
class TListOf : public TListView {
 public:
  int AddRow(const std::string& text, int image, const T& item) {
    return TListView::AddRow(text, image, reinterpret_cast<intptr_t>(&item));
  }
  // Null for a row that does not exist.
  const T* Item(int row) const { return reinterpret_cast<const T*>(Key(row)); }
};

// Cuts a bitmap resource into size96 x size96 images, `transparent` being the
// colour left out, at the current DPI: the strip drawn for that size
// (resource NAME_<pixels>) where there is one, else the 100 % strip scaled.
// Null when the resource is missing.
HIMAGELIST LoadImageStrip(const char* resourceName, int size96, COLORREF transparent);

}  // namespace zelt
