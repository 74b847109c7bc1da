// The one table of the side windows: for each kind its name, its title, how
// it is made and the main window's key that opens it. The main window opens
// its side windows through it, and the tests and the screenshot program
// walk it, so a new window is its own file and one row here.
#pragma once

#include <windows.h>

#include <memory>
#include <span>

#include "ui/WindowContext.h"
#include "widgets/Form.h"

namespace zelt {

struct TWindowRow {
  TDialogKind Kind;
  // The window's name for the tests and its screenshots' file names.
  const char* Name;
  // The title on its strip.
  const char* Title;
  // Makes the window hidden, over the context.
  std::unique_ptr<TForm> (*Make)(const TWindowContext& context);
  // The key that opens it from the main window; 0 for none.
  UINT Key;
};

std::span<const TWindowRow> WindowTable();
// The row of a kind.
const TWindowRow& WindowRow(TDialogKind kind);

}  // namespace zelt
