// The project's Python test servers (Unix programs) run beside a Windows
// test or benchmark under Wine, and what they need to find: the interpreter,
// the sources and the build, from the test-tools.txt the build writes.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "base/Text_win.h"

namespace zelt::fake {

// A Unix path as a path on Wine's Z: drive.
inline std::string WindowsPath(std::string p) {
  for (char& c : p)
    if (c == '/') c = '\\';
  return "Z:" + p;
}
inline std::string ReadText(const std::string& path) {
  std::ifstream in(Widen(path).c_str(), std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}
// "name=value" lines of the file the build writes beside the tests
// (test-tools.txt: python, source, build), or of a server's ready file.
inline std::string Setting(const std::string& text, const std::string& name) {
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    if (line.rfind(name + "=", 0) == 0) return line.substr(name.size() + 1);
  }
  return {};
}
inline std::string BuildSetting(const std::string& name) {
  wchar_t self[MAX_PATH];
  std::wstring dir(self, GetModuleFileNameW(nullptr, self, MAX_PATH));
  dir.resize(dir.find_last_of(L"\\/"));  // the tests' folder; the build is above it
  return Setting(ReadText(Narrow(dir) + "\\..\\test-tools.txt"), name);
}

// A Python server of the project (a Unix program) run beside the test: it
// writes "name=value" lines of what it listens on to a ready file and ends
// when its alive file goes (at the latest after five minutes).
class ScriptServer {
 public:
  ScriptServer() = default;
  ScriptServer(const ScriptServer&) = delete;
  ScriptServer& operator=(const ScriptServer&) = delete;
  ~ScriptServer() { DeleteFileW(Widen(alive_).c_str()); }

  // `script` relative to the source folder; empty on success, else why not.
  std::string Start(const std::string& script, const std::string& arguments) {
    const std::string python = BuildSetting("python"), source = BuildSetting("source");
    if (python.empty() || source.empty()) return "the build wrote no test-tools.txt";
    const std::string base =
        BuildSetting("build") + "/server-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++count_);
    ready_ = WindowsPath(base + ".ready");
    alive_ = WindowsPath(base + ".alive");
    DeleteFileW(Widen(ready_).c_str());
    std::ofstream(Widen(alive_).c_str()) << "running";
    std::wstring cmd = Widen("\"" + WindowsPath(python) + "\" \"" + source + "/" + script + "\" --ready \"" + base +
                             ".ready\" --alive \"" + base + ".alive\" " + arguments);
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
      return "could not start " + Narrow(cmd);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    for (int i = 0; i < 1200 && GetFileAttributesW(Widen(ready_).c_str()) == INVALID_FILE_ATTRIBUTES; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    text_ = ReadText(ready_);
    return text_.empty() ? "the server did not start: " + Narrow(cmd) : "";
  }
  std::string Value(const std::string& name) const { return Setting(text_, name); }

  // A control call of tools/zelt_server.py (GET without a body); its answer.
  std::string Control(const std::string& what, const std::string& json = "") const {
    HINTERNET inet = InternetOpenW(L"test", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    HINTERNET conn = InternetConnectW(inet, L"127.0.0.1", static_cast<INTERNET_PORT>(std::stoi(Value("port"))),
                                      nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0);
    HINTERNET req = HttpOpenRequestW(conn, json.empty() ? L"GET" : L"POST", Widen("/_control/" + what).c_str(),
                                     nullptr, nullptr, nullptr, INTERNET_FLAG_RELOAD, 0);
    HttpSendRequestW(req, nullptr, 0, const_cast<char*>(json.data()), static_cast<DWORD>(json.size()));
    std::string answer;
    char buf[4096];
    for (DWORD n = 0; InternetReadFile(req, buf, sizeof buf, &n) && n;) answer.append(buf, n);
    for (HINTERNET h : {req, conn, inet}) InternetCloseHandle(h);
    return answer;
  }
  std::string Url(const std::string& path) const { return "http://127.0.0.1:" + Value("port") + path; }

 private:
  std::string ready_, alive_, text_;
  static inline int count_ = 0;
};

}  // namespace zelt::fake
