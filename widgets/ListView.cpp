#include "widgets/ListView.h"

#include <windowsx.h>

#include <vector>

#include "base/Text_win.h"
#include "widgets/Dpi.h"
#include "widgets/Paint.h"

namespace zelt {

namespace {

std::wstring ItemText(HWND list, int row, int column) {
  std::vector<wchar_t> buffer(1024);
  LVITEMW item{};
  item.iSubItem = column;
  item.pszText = buffer.data();
  item.cchTextMax = static_cast<int>(buffer.size());
  const LRESULT n = SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
  return std::wstring(buffer.data(), static_cast<size_t>(n));
}

// The sort runs over stand-in keys (each row's position before the
// sort), so the comparison reads texts captured beforehand and never depends
// on how the control moves rows while it sorts.
struct TSortContext {
  const std::vector<std::wstring>* Texts;
  bool Descending;
};

int CALLBACK CompareRows(LPARAM a, LPARAM b, LPARAM ctx) {
  const auto* c = reinterpret_cast<const TSortContext*>(ctx);
  const std::wstring& ta = (*c->Texts)[static_cast<size_t>(a)];
  const std::wstring& tb = (*c->Texts)[static_cast<size_t>(b)];
  const int r = CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, ta.c_str(), static_cast<int>(ta.size()),
                               tb.c_str(), static_cast<int>(tb.size())) -
                CSTR_EQUAL;
  return c->Descending ? -r : r;
}

}  // namespace

bool TListView::Create(HWND parent, int x, int y, int w, int h) {
  Place96(x, y, w, h);
  const RECT r = ScaleRect(x, y, w, h);
  if (!CreateControl(WC_LISTVIEWW,
                     WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_CLIPSIBLINGS | LVS_REPORT | LVS_SINGLESEL |
                         LVS_SHOWSELALWAYS,
                     WS_EX_CLIENTEDGE, "", r.left, r.top, r.right - r.left, r.bottom - r.top, parent))
    return false;
  SendMessageW(Handle(), WM_SETFONT, reinterpret_cast<WPARAM>(UiFont()), FALSE);
  const DWORD ex = LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES | LVS_EX_INFOTIP | LVS_EX_LABELTIP | LVS_EX_DOUBLEBUFFER;
  SendMessageW(Handle(), LVM_SETEXTENDEDLISTVIEWSTYLE, ex, ex);
  SetColours();
  return true;
}

void TListView::SetColours() {
  SendMessageW(Handle(), LVM_SETBKCOLOR, 0, static_cast<LPARAM>(GetSysColor(COLOR_WINDOW)));
  SendMessageW(Handle(), LVM_SETTEXTBKCOLOR, 0, static_cast<LPARAM>(GetSysColor(COLOR_WINDOW)));
  SendMessageW(Handle(), LVM_SETTEXTCOLOR, 0, static_cast<LPARAM>(SchemeColour(RGB(0, 0, 0), COLOR_WINDOWTEXT)));
}

void TListView::ChangeDpi(int dpi) {
  const int old = Dpi();
  TControl::ChangeDpi(dpi);
  for (int c = 0; c < ColumnCount(); ++c) SetColumnWidthPx(c, MulDiv(ColumnWidthPx(c), dpi, old));
}

void TListView::SetImages(HIMAGELIST images) {
  SendMessageW(Handle(), LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(images));
}

int TListView::AddColumn(const std::string& header, int width96) {
  const TDpiScope dpi(Dpi());
  std::wstring text = Widen(header);
  LVCOLUMNW col{};
  col.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT | LVCF_SUBITEM;
  col.fmt = LVCFMT_LEFT;
  col.cx = Scale(width96);
  col.pszText = text.data();
  const int index = ColumnCount();
  col.iSubItem = index;
  return static_cast<int>(SendMessageW(Handle(), LVM_INSERTCOLUMNW, static_cast<WPARAM>(index),
                                       reinterpret_cast<LPARAM>(&col)));
}

int TListView::ColumnCount() const {
  HWND header = reinterpret_cast<HWND>(SendMessageW(Handle(), LVM_GETHEADER, 0, 0));
  return header ? static_cast<int>(SendMessageW(header, HDM_GETITEMCOUNT, 0, 0)) : 0;
}

void TListView::AddColumns(std::span<const TListColumn> columns) {
  for (const TListColumn& c : columns) AddColumn(c.Header, c.Width96);
}

void TListView::FitColumns(std::span<const TListColumn> columns) {
  int rest = -1, others = 0;
  for (size_t i = 0; i < columns.size(); ++i) {
    const int column = static_cast<int>(i);
    if (columns[i].FitWidth96 == 0) {
      rest = column;
      continue;
    }
    SetColumnWidth(column, columns[i].FitWidth96);
    others += ColumnWidthPx(column);
  }
  if (rest >= 0) SetColumnWidthPx(rest, ClientWidthPx() - others);
  for (size_t i = 0; i < columns.size(); ++i)
    if (columns[i].Centred) SetColumnAlign(static_cast<int>(i), LVCFMT_CENTER);
}

void TListView::SetColumnWidth(int column, int width96) {
  const TDpiScope dpi(Dpi());
  SetColumnWidthPx(column, Scale(width96));
}

void TListView::SetColumnWidthPx(int column, int px) {
  SendMessageW(Handle(), LVM_SETCOLUMNWIDTH, static_cast<WPARAM>(column), MAKELPARAM(px, 0));
}

int TListView::ColumnWidthPx(int column) const {
  return static_cast<int>(SendMessageW(Handle(), LVM_GETCOLUMNWIDTH, static_cast<WPARAM>(column), 0));
}

void TListView::SetColumnAlign(int column, int lvcfmt) {
  LVCOLUMNW col{};
  col.mask = LVCF_FMT;
  col.fmt = lvcfmt;
  SendMessageW(Handle(), LVM_SETCOLUMNW, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&col));
}

int TListView::AddRow(const std::string& text, int image, intptr_t key) {
  std::wstring w = Widen(text);
  LVITEMW item{};
  item.mask = LVIF_TEXT | LVIF_IMAGE | LVIF_PARAM;
  item.iItem = Count();
  item.pszText = w.data();
  item.iImage = image;
  item.lParam = key;
  return static_cast<int>(SendMessageW(Handle(), LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
}

void TListView::SetCell(int row, int column, const std::string& text) {
  std::wstring w = Widen(text);
  LVITEMW item{};
  item.iSubItem = column;
  item.pszText = w.data();
  SendMessageW(Handle(), LVM_SETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
}

std::string TListView::Cell(int row, int column) const { return Narrow(ItemText(Handle(), row, column)); }

void TListView::SetImage(int row, int image) {
  LVITEMW item{};
  item.mask = LVIF_IMAGE;
  item.iItem = row;
  item.iImage = image;
  SendMessageW(Handle(), LVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&item));
}

int TListView::Image(int row) const {
  LVITEMW item{};
  item.mask = LVIF_IMAGE;
  item.iItem = row;
  SendMessageW(Handle(), LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
  return item.iImage;
}

intptr_t TListView::Key(int row) const {
  LVITEMW item{};
  item.mask = LVIF_PARAM;
  item.iItem = row;
  if (!SendMessageW(Handle(), LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item))) return 0;
  return item.lParam;
}

void TListView::SetKey(int row, intptr_t key) {
  LVITEMW item{};
  item.mask = LVIF_PARAM;
  item.iItem = row;
  item.lParam = key;
  SendMessageW(Handle(), LVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&item));
}

void TListView::DeleteRow(int row) { SendMessageW(Handle(), LVM_DELETEITEM, static_cast<WPARAM>(row), 0); }

int TListView::Count() const { return static_cast<int>(SendMessageW(Handle(), LVM_GETITEMCOUNT, 0, 0)); }

void TListView::Clear() { SendMessageW(Handle(), LVM_DELETEALLITEMS, 0, 0); }

int TListView::Selected() const {
  return static_cast<int>(SendMessageW(Handle(), LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

void TListView::Select(int row) {
  LVITEMW item{};
  item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
  item.state = row >= 0 ? (LVIS_SELECTED | LVIS_FOCUSED) : 0;
  SendMessageW(Handle(), LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
}

int TListView::ClientWidthPx() const {
  RECT rc;
  GetClientRect(Handle(), &rc);
  return rc.right - rc.left;
}

void TListView::SortByColumn(int column, SortOrder order) {
  LONG style = GetWindowLongW(Handle(), GWL_STYLE) & ~(LVS_SORTASCENDING | LVS_SORTDESCENDING);
  if (order == SortOrder::Ascending) style |= LVS_SORTASCENDING;
  if (order == SortOrder::Descending) style |= LVS_SORTDESCENDING;
  SetWindowLongW(Handle(), GWL_STYLE, style);
  if (order == SortOrder::None) return;
  const int n = Count();
  std::vector<std::wstring> texts;
  std::vector<intptr_t> keys;
  for (int row = 0; row < n; ++row) {
    texts.push_back(ItemText(Handle(), row, column));
    keys.push_back(Key(row));
    SetKey(row, row);
  }
  TSortContext ctx{&texts, order == SortOrder::Descending};
  SendMessageW(Handle(), LVM_SORTITEMS, reinterpret_cast<WPARAM>(&ctx), reinterpret_cast<LPARAM>(&CompareRows));
  for (int row = 0; row < n; ++row) {
    const auto before = static_cast<size_t>(Key(row));
    if (before < keys.size()) SetKey(row, keys[before]);
  }
}

LRESULT TListView::OnMessage(UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_SYSCOLORCHANGE) SetColours();  // the window colour, or the high-contrast mode, changed
  if (msg == WM_CONTEXTMENU && OnContextMenu) {
    POINT pt{GET_X_LPARAM(lp), GET_Y_LPARAM(lp)};
    if (pt.x == -1 && pt.y == -1) GetCursorPos(&pt);  // from the keyboard
    OnContextMenu(pt);
    return 0;
  }
  return Default(msg, wp, lp);
}

bool TListView::OnReflect(UINT msg, WPARAM, LPARAM lp, LRESULT& result) {
  if (msg != WM_NOTIFY) return false;
  const auto* hdr = reinterpret_cast<const NMHDR*>(lp);
  switch (hdr->code) {
    case NM_DBLCLK:
    case NM_RDBLCLK:
      if (OnDoubleClick) OnDoubleClick();
      result = 0;
      return true;
    case LVN_COLUMNCLICK:
      if (OnColumnClick) OnColumnClick(reinterpret_cast<const NMLISTVIEW*>(lp)->iSubItem);
      result = 0;
      return true;
    default:
      return false;
  }
}

HIMAGELIST LoadImageStrip(const char* resourceName, int size96, COLORREF transparent) {
  const int side = Scale(size96);
  // The strip drawn for this size where there is one (NAME_<pixels>).
  const std::string sized = std::string(resourceName) + "_" + std::to_string(side);
  HMODULE module = GetModuleHandleW(nullptr);
  TScopedBitmap strip;
  if (side != size96)
    strip.reset(static_cast<HBITMAP>(LoadImageA(module, sized.c_str(), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)));
  const int drawn = strip ? side : size96;
  if (!strip)
    strip.reset(static_cast<HBITMAP>(LoadImageA(module, resourceName, IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)));
  if (!strip) return nullptr;
  const SIZE src = BitmapSize(strip.get());
  const int count = drawn > 0 ? src.cx / drawn : 0;
  if (count <= 0) return nullptr;
  HIMAGELIST list = ImageListCreate(side, side, ILC_COLOR24 | ILC_MASK, count, 0);
  if (!list) return nullptr;
  if (side == drawn) {
    ImageListAddMasked(list, strip.get(), transparent);
    return list;
  }
  // Scale the strip with nearest neighbours so the transparent colour stays exact.
  TWindowDc screenDc(nullptr);
  const HDC screen = screenDc.get();
  TScopedBitmap scaled(CreateCompatibleBitmap(screen, side * count, side));
  {
    TScopedMemDc from(CreateCompatibleDC(screen)), to(CreateCompatibleDC(screen));
    TSelect a(from.get(), strip.get()), b(to.get(), scaled.get());
    SetStretchBltMode(to.get(), COLORONCOLOR);
    StretchBlt(to.get(), 0, 0, side * count, side, from.get(), 0, 0, size96 * count, size96, SRCCOPY);
  }
  ImageListAddMasked(list, scaled.get(), transparent);
  return list;
}

}  // namespace zelt
