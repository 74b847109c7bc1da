// The settings window: poll interval, topic count, proxy, nickname and the
// five switches of the Checker. It fills its fields from the Checker when it
// opens and writes them back only on "Сохранить"; every other way out leaves
// the Checker and data.dat as they were. "(Редактировать)" opens the sound
// scheme on top of it (through the context's Open), whose changes apply at
// once.
//
//   TSettingsForm form(context);
//   form.ShowModal();
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "core/Settings.h"
#include "ui/WindowContext.h"
#include "widgets/Button.h"
#include "widgets/CheckBox.h"
#include "widgets/Edit.h"
#include "widgets/Form.h"
#include "widgets/Label.h"

namespace zelt {

// The number a numeric field holds: decimal digits with an optional sign;
// anything else (an empty text included) reads as 0. Values beyond the 64-bit
// range saturate, so they stay above every bound.
int64_t SettingsFieldNumber(const std::string& text);

class TSettingsForm final : public TForm {
 public:
  static constexpr const char* kTitle = "Настройки";
  static constexpr int kWidth = 274;
  static constexpr int kHeight = 348;
  // Ranges the numeric fields are held to.
  static constexpr int kMaxInterval = kMaxIntervalMinutes;
  static constexpr int kMaxTopics = kMaxTopicCount;
  static constexpr int kMaxPort = 65535;

  explicit TSettingsForm(const TWindowContext& context);

  // Writes the fields to the Checker, saves data.dat, polls at once and closes.
  void Save();
  void EditSounds();

  TEdit& IntervalEdit() { return interval_; }
  TEdit& TopicsEdit() { return topics_; }
  TEdit& ServerEdit() { return server_; }
  TEdit& PortEdit() { return port_; }
  TEdit& UserEdit() { return user_; }
  TEdit& PasswordEdit() { return password_; }
  TEdit& NickEdit() { return nick_; }
  TCheckBox& UseIEBox() { return useIE_; }
  TCheckBox& IgnoreOwnBox() { return ignoreOwn_; }
  TCheckBox& ShowOnNewBox() { return showOnNew_; }
  TCheckBox& AutoStartBox() { return autoStart_; }
  TCheckBox& UseSoundsBox() { return useSounds_; }
  TLinkLabel& EditSoundsLink() { return editSounds_; }
  TButton& SaveButton() { return save_; }
  TButton& CancelButton() { return cancel_; }

 private:
  void Fill();
  // Holds a numeric field to 1..upper after a change of its text.
  static void HoldToRange(TEdit& edit, int upper);

  TChecker& checker_;
  std::function<void(TDialogKind kind)> open_;
  TLabel intervalHeading_, minutes_, topicsHeading_, topicsUnit_, proxyHeading_, serverLabel_, portLabel_, userLabel_,
      passwordLabel_, otherHeading_, nickLabel_;
  TEdit interval_, topics_, server_, port_, user_, password_, nick_;
  TCheckBox useIE_, ignoreOwn_, showOnNew_, autoStart_, useSounds_;
  TLinkLabel editSounds_;
  TButton save_, cancel_;
};

}  // namespace zelt
