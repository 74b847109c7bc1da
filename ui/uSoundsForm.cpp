#include "ui/uSoundsForm.h"

#include <commdlg.h>

#include "base/Text_win.h"
#include "core/uChecker.h"
#include "widgets/Desktop.h"
#include "widgets/Dpi.h"

namespace zelt {

const char* const TSoundsForm::kDefaultFiles[kEvents] = {"Сообщение.ogg", "Новая версия.ogg", "Ошибка.ogg"};

std::string SoundFileName(const std::string& path) {
  const size_t cut = path.find_last_of("\\/:");
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

TSoundsForm::TSoundsForm(HWND owner, TChecker& checker) : checker_(checker) {
  CreateForm("Звуковая схема", "Звуковая схема", kWidth, kHeight, owner);
  const HWND body = Body();
  list_.Create(body, 8, 24, 369, 137);
  list_.SetAccessibleName(Strip().Text());
  list_.AddColumn("Событие", 300);
  list_.AddColumn("Звук", 150);
  for (int i = 0; i < kEvents; ++i) {
    const int row = list_.AddRow(kSoundEventNames[i], -1, nullptr);
    list_.SetCell(row, 1, SoundFileName(checker_.Settings().Sound(static_cast<TSoundEvent>(i))));
  }
  list_.SetColumnWidth(0, 150);
  list_.SetColumnWidthPx(1, list_.ClientWidthPx() - Scale(150));
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

void TSoundsForm::SetSound(int row, std::string path) {
  checker_.SetSound(static_cast<TSoundEvent>(row), std::move(path));
}

void TSoundsForm::Replace() {
  const int row = list_.Selected();
  if (row < 0 || row >= kEvents) return;
  TFileDialogRequest request;
  request.Owner = Handle();
  request.Filters = {{"*.ogg, *.wav, *.mp3", "*.ogg;*.wav;*.mp3"}, {"*.*", "*.*"}};
  // The dialog starts in "sound\" (singular) inside the program's folder;
  // the default files lie in "Sounds\".
  request.InitialDir = PathText(checker_.ProgramDir().wstring()) + "sound\\";
  request.Flags = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY;
  std::string path;
  if (!Desktop().ChooseFile(TFileDialogKind::Open, request, path)) return;
  list_.SetCell(row, 1, SoundFileName(path));
  SetSound(row, path);
}

void TSoundsForm::Delete() {
  const int row = list_.Selected();
  if (row < 0 || row >= kEvents) return;
  list_.SetCell(row, 1, "");
  SetSound(row, "");
}

void TSoundsForm::Defaults() {
  // No file is tested for existence: a missing one simply plays nothing.
  for (int i = 0; i < kEvents; ++i) {
    list_.SetCell(i, 1, kDefaultFiles[i]);
    SetSound(i, PathText(checker_.ProgramDir().wstring()) + "Sounds\\" + list_.Cell(i, 1));
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
