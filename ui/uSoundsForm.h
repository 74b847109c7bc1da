// The sound scheme window: the three program events and the file each one
// plays. Replace picks a file through the file-open dialog, Delete empties
// the event's sound, Defaults points all three at the files in "Sounds\"
// beside the program. Every change goes to the Checker at once; data.dat
// gets it at the Checker's next save.
//
//   TSoundsForm form(context);
//   form.ShowModal();
#pragma once

#include <string>

#include "core/Settings.h"
#include "ui/WindowContext.h"
#include "widgets/Button.h"
#include "widgets/Form.h"
#include "widgets/ListView.h"

namespace zelt {

// The file name part of a path: the text after its last "\", "/" or ":".
std::string SoundFileName(const std::string& path);

class TSoundsForm final : public TForm {
 public:
  static constexpr const char* kTitle = "Звуковая схема";
  static constexpr int kWidth = 380;
  static constexpr int kHeight = 189;
  static constexpr int kEvents = 3;
  // The default file of each event, in "Sounds\" beside the program.
  static const char* const kDefaultFiles[kEvents];

  explicit TSoundsForm(const TWindowContext& context);

  void Replace();
  void Delete();
  void Defaults();

  TListView& List() { return list_; }
  TButton& DefaultsButton() { return defaults_; }
  TButton& DeleteButton() { return delete_; }
  TButton& ReplaceButton() { return replace_; }

 protected:
  // Enter and Delete act in the list.
  bool OnKeyDown(UINT vk) override;

 private:
  // The event a row stands for.
  TSoundEvent EventOf(int row) const { return static_cast<TSoundEvent>(list_.Key(row)); }
  // The file of the event in the row, shown and to the checker at once.
  void SetSound(int row, const std::string& shown, std::string path);

  TChecker& checker_;
  TListView list_;
  TButton defaults_, delete_, replace_;
};

}  // namespace zelt
