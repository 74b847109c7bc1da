// A list view in report mode: columns, rows with an image from a small image
// list and a pointer of item data, single whole-row selection shown also
// without focus, grid lines, info tips for truncated texts. Sorting compares
// the column texts with the platform's string comparison (user's default
// locale, case ignored), so "10" sorts before "9".
//
//   list_.Create(Body(), 8, 40, 601, 209);
//   list_.SetImages(strip);                 // image list owned by the caller
//   list_.AddColumn("Name", 300);
//   int row = list_.AddRow("text", 0, ptr); list_.SetCell(row, 1, "...");
//   list_.OnDoubleClick = [this] { ... };   list_.OnColumnClick = [](int c) {};
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <string>

#include "widgets/Control.h"

namespace zelt {

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

  // Appends a row (placed by the sorted style when one is set); returns its index.
  int AddRow(const std::string& text, int image, void* data);
  void SetCell(int row, int column, const std::string& text);
  std::string Cell(int row, int column) const;
  void SetImage(int row, int image);
  int Image(int row) const;
  void* Data(int row) const;
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

// Cuts a bitmap resource into size96 x size96 images, `transparent` being the
// colour left out, at the current DPI: the strip drawn for that size
// (resource NAME_<pixels>) where there is one, else the 100 % strip scaled.
// Null when the resource is missing.
HIMAGELIST LoadImageStrip(const char* resourceName, int size96, COLORREF transparent);

}  // namespace zelt
