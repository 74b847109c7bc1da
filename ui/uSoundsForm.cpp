#include "ui/uSoundsForm.h"

#include <commdlg.h>

#include "base/Text_win.h"
#include "core/uChecker.h"
#include "widgets/Desktop.h"

namespace zelt {

const char* const TSoundsForm::kDefaultFiles[kEvents] = {"Сообщение.ogg", "Новая версия.ogg", "Ошибка.ogg"};

namespace {
// The event's name (the row's text) and its file.
constexpr TListColumn kColumns[] = {{"Событие", 300, 150}, {"Звук", 150, 0}};
constexpr int kSoundColumn = 1;
}  // namespace

std::string SoundFileName(const std::string& path) {
  const size_t cut = path.find_last_of("\\/:");
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

TSoundsForm::TSoundsForm(const TWindowContext& context) : checker_(context.Checker) {
  CreateForm(kTitle, kTitle, kWidth, kHeight, context.Owner);
  const HWND body = Body();
  list_.Create(body, 8, 24, 369, 137);
  list_.SetAccessibleName(Strip().Text());
  list_.AddColumns(kColumns);
  for (int i = 0; i < kEvents; ++i) {
    const int row = list_.AddRow(kSoundEventNames[i], -1, i);
    list_.SetCell(row, kSoundColumn, SoundFileName(checker_.Settings().Sound(EventOf(row))));
  }
  list_.FitColumns(kColumns);
  list_.OnDoubleClick = [this] { Replace(); };

  defaults_.Create(body, 7, 162, 114, 24, "По умолчанию");
  defaults_.SetPicture("SOUNDSFORM_ICDEFAULT", 16);
  defaults_.SetHint("По умолчанию");
  delete_.Create(body, 319, 162, 25, 24);
  delete_.SetPicture("SOUNDSFORM_ICDELETE", 16);
  delete_.SetHint("Удалить");
  replace_.Create(body, 351, 162, 25, 24);
  replace_.SetPicture("SOUNDSFORM_ICCHANGE", 16);
  replace_.SetHint("Заменить");
  defaults_.OnClick = [this] { Defaults(); };
  delete_.OnClick = [this] { Delete(); };
  replace_.OnClick = [this] { Replace(); };

  CentreOnScreen();
}

void TSoundsForm::SetSound(int row, const std::string& shown, std::string path) {
  list_.SetCell(row, kSoundColumn, shown);
  checker_.SetSound(EventOf(row), std::move(path));
}

void TSoundsForm::Replace() {
  const int row = list_.Selected();
  if (row < 0) return;
  TFileDialogRequest request;
  request.Owner = Handle();
  request.Filters = {{"*.ogg, *.wav, *.mp3", "*.ogg;*.wav;*.mp3"}, {"*.*", "*.*"}};
  // The dialog starts in "sound\" (singular) inside the program's folder;
  // the default files lie in "Sounds\".
  request.InitialDir = PathText(checker_.ProgramDir()) + "sound\\";
  request.Flags = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY;
  std::string path;
  if (!Desktop().ChooseFile(TFileDialogKind::Open, request, path)) return;
  SetSound(row, SoundFileName(path), path);
}

void TSoundsForm::Delete() {
  const int row = list_.Selected();
  if (row >= 0) SetSound(row, "", "");
}

void TSoundsForm::Defaults() {
  // No file is tested for existence: a missing one simply plays nothing.
  for (int row = 0; row < list_.Count(); ++row) {
    const char* file = kDefaultFiles[static_cast<int>(EventOf(row))];
    SetSound(row, file, PathText(checker_.ProgramDir()) + "Sounds\\" + file);
  }
}

bool TSoundsForm::OnKeyDown(UINT vk) {
  if (GetFocus() == list_.Handle()) {
    if (vk == VK_RETURN) {
      Replace();
      return true;
    }
    if (vk == VK_DELETE) {
      Delete();
      return true;
    }
  }
  return TForm::OnKeyDown(vk);
}

}  // namespace zelt
