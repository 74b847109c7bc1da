// Screenshots of every window of the program at 96, 120, 144 and 192 DPI, for people to
// look at: the windows over a checker on fake ports (a scripted network, a
// temporary program folder), as the display shows them, as PNG files.
//   ZeltShots.exe FOLDER
#include <windows.h>
#include <objbase.h>
#include <wincodec.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include "base/SafeFile.h"
#include "base/Text_win.h"
#include "base/uZELTIMessages.h"
#include "tests/support/Fakes.h"
#include "ui/WindowTable.h"
#include "ui/uInfoForm.h"
#include "ui/uMainForm.h"
#include "ui/uUpdateInfo.h"
#include "widgets/Desktop.h"
#include "widgets/Dpi.h"

namespace {

using namespace zelt;

std::wstring g_folder;
int g_failures = 0;

// The screen rectangle as a 32-bit PNG.
bool SavePng(const RECT& rc, const std::wstring& path) {
  const int w = rc.right - rc.left, h = rc.bottom - rc.top;
  if (w <= 0 || h <= 0) return false;
  HDC screen = GetDC(nullptr);
  HDC mem = CreateCompatibleDC(screen);
  BITMAPINFO bi{};
  bi.bmiHeader = {sizeof(bi.bmiHeader), w, -h, 1, 32};
  void* bits = nullptr;
  HBITMAP bmp = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(mem, bmp);
  BitBlt(mem, 0, 0, w, h, screen, rc.left, rc.top, SRCCOPY);
  SelectObject(mem, old);
  DeleteDC(mem);
  ReleaseDC(nullptr, screen);
  for (int i = 0; i < w * h; ++i) static_cast<BYTE*>(bits)[i * 4 + 3] = 255;
  bool ok = false;
  IWICImagingFactory* factory = nullptr;
  IWICStream* stream = nullptr;
  IWICBitmapEncoder* encoder = nullptr;
  IWICBitmapFrameEncode* frame = nullptr;
  WICPixelFormatGUID format = GUID_WICPixelFormat32bppBGRA;
  if (SUCCEEDED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                 reinterpret_cast<void**>(&factory))) &&
      SUCCEEDED(factory->CreateStream(&stream)) && SUCCEEDED(stream->InitializeFromFilename(path.c_str(), GENERIC_WRITE)) &&
      SUCCEEDED(factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, &encoder)) &&
      SUCCEEDED(encoder->Initialize(stream, WICBitmapEncoderNoCache)) &&
      SUCCEEDED(encoder->CreateNewFrame(&frame, nullptr)) && SUCCEEDED(frame->Initialize(nullptr)) &&
      SUCCEEDED(frame->SetSize(static_cast<UINT>(w), static_cast<UINT>(h))) && SUCCEEDED(frame->SetPixelFormat(&format)))
    ok = SUCCEEDED(frame->WritePixels(static_cast<UINT>(h), static_cast<UINT>(w) * 4, static_cast<UINT>(w * h * 4),
                                      static_cast<BYTE*>(bits))) &&
         SUCCEEDED(frame->Commit()) && SUCCEEDED(encoder->Commit());
  for (IUnknown* u : std::initializer_list<IUnknown*>{frame, encoder, stream, factory})
    if (u) u->Release();
  DeleteObject(bmp);
  return ok;
}

void Pump(TApplication& app, int ms) {
  const DWORD end = GetTickCount() + static_cast<DWORD>(ms);
  while (GetTickCount() < end) {
    app.ProcessMessages();
    Sleep(10);
  }
}

void Shot(TApplication& app, HWND hwnd, const std::string& name) {
  RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
  Pump(app, 150);
  RECT rc;
  GetWindowRect(hwnd, &rc);
  const std::wstring path = g_folder + L"\\" + Widen(name) + L"-" + std::to_wstring(CurrentDpi()) + L".png";
  const bool ok = SavePng(rc, path);
  std::printf("%s %s\n", ok ? "wrote" : "FAILED", Narrow(path).c_str());
  g_failures += ok ? 0 : 1;
}

// Nothing of the desktop shows while the pictures are taken: a link opened
// (the read topic) goes nowhere; a message box, which would wait for a
// click nobody gives, a file dialog or a started program is counted as a
// failure.
class TNoDesktop final : public IDesktop {
 public:
  void Open(HWND, const std::string&) override {}
  void OpenFile(HWND, const std::wstring&) override {}
  int Message(HWND, const std::string& text, const std::string&, UINT) override {
    return Unwanted("message box: " + text), IDOK;
  }
  bool ChooseFile(TFileDialogKind, const TFileDialogRequest& request, std::string&) override {
    return Unwanted("file dialog " + request.Title), false;
  }
  bool Start(SHELLEXECUTEINFOW&) override { return Unwanted("start"), false; }

 private:
  static void Unwanted(const std::string& what) {
    std::fprintf(stderr, "%s\n", what.c_str());
    ++g_failures;
  }
};

// Runs f from inside the next modal loop.
std::function<void()> g_later;
void Later(std::function<void()> f) {
  g_later = std::move(f);
  SetTimer(nullptr, 0, 50, [](HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    if (auto f = std::move(g_later)) f();
  });
}

void AllWindows(int dpi) {
  SetDpiOverride(dpi);
  fake::TempDir dir("zelt-shots");
  fake::Transport http;
  // The polls fail as without a network; the update files are served (a
  // reply by path is taken when the request names it, so the default fails late).
  http.SetDefault({.failAt = fake::Step::Send});
  http.Serve(kUpdateInfoPath, {.body = "{\\rtf1\\ansi\\ansicpg1251{\\fonttbl{\\f0\\fcharset204 Arial;}}\\f0\\b Zelt "
                                       "Rarazovo 0.5\\b0\\par \\u1063?\\u1090?\\u1086? \\u1085?\\u1086?\\u1074?"
                                       "\\u1086?\\u1075?\\u1086?:\\par - ...\\par}"});
  http.Serve(kUpdateSetupPath, {.body = std::string(1835008, 's')});
  http.Serve(kUpdatePatchPath, {.body = std::string(358400, 'p'), .holdAt = fake::Step::Read, .after = 143360});
  fake::Registry registry;
  fake::Sound sound;
  fake::Clock clock;
  fake::NotificationState userState;
  // The state the windows show.
  TDataImage state;
  state.TotalInBytes = 183000;
  state.TotalInUnpacked = 915000;
  state.TotalOutBytes = 52224 - kRequestBytes;  // the first poll adds its own
  state.UpdateInBytes = state.UpdateTotalBytes = 1200000;
  state.TrafficSince = clock.Time;
  state.Favorites.Add("Поездка на Байкал летом: кто с нами?\x11Путешествия\x11http://x/forum/t1-0-17\x11");
  state.Favorites.Add("Рецепт борща\x11Кухня\x11http://x/forum/t3-0-17\x11");
  state.SoundNewMessages = dir.Path() + "Sounds\\Сообщение.ogg";
  state.SoundError = dir.Path() + "Sounds\\Ошибка.ogg";
  ReplaceFileBytes(dir / kDataFileName.Narrow, SerializeDataImage(state));
  TNoDesktop desktop;
  TApplication app("Zelt Rarazovo 0.4", desktop);
  auto main = std::make_unique<TMainForm>(
      app,
      [&] {
        return CheckerPorts{app, http, app.CreateTimer(), registry, sound, clock, fake::PathOf(dir.Path()), fake::PathOf(dir.Path() + "x.exe")};
      },
      userState);
  TInfoForm& info = main->Popup();
  Pump(app, 200);
  TChecker& c = *main->Checker();
  c.HandleReply(fake::CompressedBody(fake::ReplyText(true, {
      {"Поездка на Байкал летом: кто с нами?", "t1", "Путешествия", "128", "Светлана"},
      {"Ремонт &quot;Нивы&quot; своими руками", "t2", "Авто", "47", "Михалыч"},
      {"Рецепт борща", "t3", "Кухня", "9", "Ольга"},
      {"Фотоконкурс &laquo;Осень&raquo;", "t4", "Фото", "10", "Admin"},
      {"Продам велосипед", "t5", "Барахолка", "3", "Дмитрий"}})));
  main->TopicList().Select(1);
  main->OpenTopic();  // one read row, with its grey sphere
  main->ShowFromTray();
  Shot(app, main->Handle(), "main");
  main->ShowInfo();
  Shot(app, info.Handle(), "popup-update");
  info.Hide();
  // Every side window as the main window opens it, once its requests have
  // answered (the patch held halfway, so the download is shown under way).
  for (const TWindowRow& row : WindowTable()) {
    Later([&app, &main, &http, &row] {
      TForm* f = main->Dialog(row.Kind);
      if (!f) return;
      for (int i = 0; i < 100 && !http.Held() && http.OpenHandles() > 0; ++i) Pump(app, 50);
      Pump(app, 50);
      Shot(app, f->Handle(), row.Name);
      f->Close();
    });
    main->ShowDialog(row.Kind);
  }
  http.Release();
  c.HandleReply("0");  // the same topics, no new version (after every shot of the counters)
  main->ShowInfo();
  Shot(app, info.Handle(), "popup-noupdate");
  info.Hide();
  Later([&app] {
    if (HWND menu = FindWindowW(L"#32768", nullptr)) Shot(app, menu, "tray-menu");
    EndMenu();
  });
  SendMessageW(main->Handle(), TTrayIcon::kCallbackMessage, 1, WM_RBUTTONUP);
  SendMessageW(main->Handle(), WM_CLOSE, 0, 0);
  main.reset();
  http.WaitIdle();
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
    if (msg.message != WM_QUIT) DispatchMessageW(&msg);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: ZeltShots FOLDER\n");
    return 2;
  }
  g_folder = argv[1];
  CreateDirectoryW(g_folder.c_str(), nullptr);
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  RegisterInstanceMessages();
  for (int dpi : {96, 120, 144, 192}) AllWindows(dpi);
  return g_failures ? 1 : 0;
}
