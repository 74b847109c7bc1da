#include "ui/uSettingsForm.h"

#include <limits>
#include <utility>

#include "core/uChecker.h"
#include "widgets/Paint.h"

namespace zelt {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
constexpr char kBackspace = 8;

// Typing filters: control characters other than Backspace are refused too,
// so Ctrl shortcuts do not paste into the numeric fields.
bool NumberChar(char c) { return IsDigit(c) || c == kBackspace; }
bool AddressChar(char c) { return IsDigit(c) || c == '.' || c == kBackspace; }

}  // namespace

int64_t SettingsFieldNumber(const std::string& text) {
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  if (i == text.size()) return 0;
  constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
  int64_t v = 0;
  for (; i < text.size(); ++i) {
    if (!IsDigit(text[i])) return 0;
    const int d = text[i] - '0';
    v = v > (kMax - d) / 10 ? kMax : v * 10 + d;
  }
  return negative ? -v : v;
}

TSettingsForm::TSettingsForm(const TWindowContext& context) : checker_(context.Checker), open_(context.Open) {
  CreateForm(kTitle, kTitle, kWidth, kHeight, context.Owner);
  const HWND body = Body();

  auto label = [body](TLabel& l, int x, int y, const char* text, bool heading) {
    l.Create(body, x, y, text);
    l.SetColour(palette::kNavy);
    l.SetBold(heading);
  };
  label(intervalHeading_, 8, 24, "Интервал проверки", true);
  interval_.Create(body, 48, 40, 57);
  label(minutes_, 112, 45, "мин", false);
  label(topicsHeading_, 136, 24, "Загружать сразу", true);
  topics_.Create(body, 176, 40, 57);
  label(topicsUnit_, 240, 45, "тем", false);

  label(proxyHeading_, 8, 72, "Параметры прокси сервера", true);
  label(serverLabel_, 24, 91, "Сервер", false);
  server_.Create(body, 104, 88, 161);
  label(portLabel_, 24, 115, "Порт", false);
  port_.Create(body, 104, 112, 161);
  label(userLabel_, 24, 139, "Пользователь", false);
  user_.Create(body, 104, 136, 161);
  label(passwordLabel_, 24, 163, "Пароль", false);
  password_.Create(body, 104, 160, 161, TEdit::kHeight, true);
  useIE_.Create(body, 24, 184, " Настройки Internet Explorer");

  label(otherHeading_, 8, 208, "Прочее", true);
  label(nickLabel_, 24, 227, "Ваш ник", false);
  nick_.Create(body, 104, 224, 161);
  ignoreOwn_.Create(body, 24, 248, " Игнорировать мои сообщения");
  showOnNew_.Create(body, 24, 264, " Показать программу на новых сообщениях");
  autoStart_.Create(body, 24, 280, " Запускать вместе с Windows");
  useSounds_.Create(body, 24, 296, " Использовать звуки");
  editSounds_.Create(body, 168, 299, "(Редактировать)");
  editSounds_.SetColour(palette::kNavy);

  // Each field is read by its label (the unit after it says no more).
  const std::pair<TEdit*, TLabel*> named[] = {{&interval_, &intervalHeading_}, {&topics_, &topicsHeading_},
                                              {&server_, &serverLabel_},       {&port_, &portLabel_},
                                              {&user_, &userLabel_},           {&password_, &passwordLabel_},
                                              {&nick_, &nickLabel_}};
  for (const auto& [field, name] : named) field->SetAccessibleName(name->Text());

  save_.Create(body, 8, 320, 97, 25, "Сохранить");
  cancel_.Create(body, 168, 320, 97, 25, "Отмена");

  Fill();

  interval_.OnKeyPress = NumberChar;
  topics_.OnKeyPress = NumberChar;
  port_.OnKeyPress = NumberChar;
  server_.OnKeyPress = AddressChar;
  interval_.OnChange = [this] { HoldToRange(interval_, kMaxInterval); };
  topics_.OnChange = [this] { HoldToRange(topics_, kMaxTopics); };
  port_.OnChange = [this] { HoldToRange(port_, kMaxPort); };

  editSounds_.OnClick = [this] { EditSounds(); };
  save_.OnClick = [this] { Save(); };
  cancel_.OnClick = [this] { Close(); };

  CentreOnScreen();
}

void TSettingsForm::Fill() {
  const TSettings& c = checker_.Settings();
  interval_.SetText(std::to_string(c.IntervalMs / 60000));
  topics_.SetText(std::to_string(c.TopicCount));
  server_.SetText(c.ProxyServer);
  port_.SetText(c.ProxyPort == 0 ? std::string() : std::to_string(c.ProxyPort));
  user_.SetText(c.UserName);
  password_.SetText(c.Password);
  nick_.SetText(c.Nick);
  useIE_.SetChecked(c.UseIESettings);
  ignoreOwn_.SetChecked(c.IgnoreOwnPosts);
  showOnNew_.SetChecked(c.ShowOnNew);
  autoStart_.SetChecked(c.AutoStart);
  useSounds_.SetChecked(c.UseSounds);
  // A data.dat written by other means may hold an interval or a topic count
  // outside the ranges: the fields show (and would save) the corrected value.
  // An empty port field stays empty.
  HoldToRange(interval_, kMaxInterval);
  HoldToRange(topics_, kMaxTopics);
}

void TSettingsForm::HoldToRange(TEdit& edit, int upper) {
  const int64_t v = SettingsFieldNumber(edit.Text());
  if (v >= 1 && v <= upper) return;
  edit.SetText(v < 1 ? "1" : std::to_string(upper));
  // The next digit typed replaces the corrected text.
  edit.SelectAll();
}

void TSettingsForm::Save() {
  TSettings c = checker_.Settings();
  const int64_t topics = SettingsFieldNumber(topics_.Text());
  const int64_t interval = SettingsFieldNumber(interval_.Text()) * 60000;
  constexpr int64_t kMin = std::numeric_limits<int32_t>::min(), kMax = std::numeric_limits<int32_t>::max();
  c.IntervalMs = static_cast<int32_t>(interval < kMin ? kMin : interval > kMax ? kMax : interval);
  c.TopicCount = static_cast<int32_t>(topics < kMin ? kMin : topics > kMax ? kMax : topics);
  c.ProxyServer = server_.Text();
  c.ProxyPort = static_cast<uint16_t>(static_cast<uint64_t>(SettingsFieldNumber(port_.Text())) & 0xFFFF);
  c.UserName = user_.Text();
  c.Password = password_.Text();
  c.Nick = nick_.Text();
  c.IgnoreOwnPosts = ignoreOwn_.Checked();
  c.UseIESettings = useIE_.Checked();
  c.AutoStart = autoStart_.Checked();
  c.ShowOnNew = showOnNew_.Checked();
  c.UseSounds = useSounds_.Checked();
  checker_.ApplySettings(c);
  Close();
}

void TSettingsForm::EditSounds() {
  // The sound scheme is modal on top of this window, whoever owns it: this
  // window takes no input until it has closed, then the keys go back to the
  // field that had them.
  RememberFocus();
  EnableWindow(Handle(), FALSE);
  if (open_) open_(TDialogKind::Sounds);
  EnableWindow(Handle(), TRUE);
  if (Visible()) SetForegroundWindow(Handle());
}

}  // namespace zelt
