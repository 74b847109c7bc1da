// The local TLS servers of the https tests, started from inside Wine: the
// build puts tests/e2e/tls/tls_server.py and the interpreter's path in
// <build>\tls\, Wine starts the (Unix) interpreter, and the script makes the
// test authorities and serves <build>\update-files\ over TLS on 127.0.0.1 as
// "localhost". The test authority is added to the prefix's trusted roots.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <chrono>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>

#include "base/Text_win.h"
#include "tests/win/support/update_harness.h"

namespace zelt::updatetest {

// A Windows path on Wine's Z: drive as the Unix path it stands for.
inline std::string UnixPath(const std::string& windowsPath) {
  std::string p = windowsPath;
  if (p.size() >= 2 && (p[0] == 'Z' || p[0] == 'z') && p[1] == ':') p = p.substr(2);
  for (char& c : p)
    if (c == '\\') c = '/';
  return p;
}

// A folder path without "." and ".." steps.
inline std::string FullPath(const std::string& path) {
  wchar_t out[MAX_PATH];
  const DWORD n = GetFullPathNameW(Widen(path).c_str(), MAX_PATH, out, nullptr);
  return n && n < MAX_PATH ? Narrow(std::wstring(out, n)) : path;
}

class TlsServers {
 public:
  TlsServers() = default;
  TlsServers(const TlsServers&) = delete;
  TlsServers& operator=(const TlsServers&) = delete;
  ~TlsServers() { Stop(); }

  // Starts the servers; empty on success, else what went wrong.
  std::string Start() {
    const std::string tls = FullPath(TestProgramDir() + "..\\tls\\");
    const std::string python = Trimmed(ReadFileBytes(tls + "python.txt"));
    if (python.empty() || !FileExists(tls + "tls_server.py")) return "the build's tls folder is incomplete: " + tls;
    ready_ = tls + "ready-" + std::to_string(GetCurrentProcessId()) + ".txt";
    alive_ = tls + "alive-" + std::to_string(GetCurrentProcessId()) + ".txt";
    DeleteFileW(Widen(ready_).c_str());
    WriteAll(alive_, "running");
    const std::string files = FullPath(TestProgramDir() + "..\\update-files");
    // The interpreter is a Unix program that Wine starts by its Z: path; it
    // gets its arguments as written, so they are Unix paths.
    std::string interpreter = "Z:" + python;
    for (char& c : interpreter)
      if (c == '/') c = '\\';
    const std::string cmd = "\"" + interpreter + "\" \"" + UnixPath(tls + "tls_server.py") + "\" --work \"" +
                            UnixPath(tls + "work") + "\" --files \"" + UnixPath(files) + "\" --ready \"" +
                            UnixPath(ready_) + "\" --alive \"" + UnixPath(alive_) + "\" --max-seconds 300";
    std::wstring wcmd = Widen(cmd);
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(nullptr, wcmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
      return "could not start " + cmd + ": error " + std::to_string(GetLastError());
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    // Making the certificates takes a few seconds the first time in a day.
    for (int i = 0; i < 600 && !FileExists(ready_); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (!FileExists(ready_)) return "the TLS server did not start: " + cmd;
    std::istringstream in(ReadFileBytes(ready_));
    for (std::string line; std::getline(in, line);) {
      const size_t eq = line.find('=');
      if (eq != std::string::npos) values_[line.substr(0, eq)] = line.substr(eq + 1);
    }
    if (values_.count("good") == 0 || values_.count("ca") == 0) return "the TLS server wrote no ports";
    return {};
  }

  void Stop() {
    if (!alive_.empty()) DeleteFileW(Widen(alive_).c_str());
    if (!ready_.empty()) DeleteFileW(Widen(ready_).c_str());
    alive_.clear();
    ready_.clear();
  }

  // https://localhost:<port of the server with that certificate>, or for
  // "plain" the plain http server.
  std::string Base(const std::string& which) const {
    auto it = values_.find(which);
    if (it == values_.end()) return {};
    return (which == "plain" ? "http://localhost:" : "https://localhost:") + it->second;
  }

  // Adds the test authority to the prefix's trusted roots (a test helper's
  // business, never the program's). True when it is there.
  bool TrustTestAuthority() const {
    auto it = values_.find("ca");
    if (it == values_.end()) return false;
    const std::string der = ReadFileBytes("Z:" + it->second);
    HMODULE crypt = LoadLibraryW(L"crypt32.dll");
    if (!crypt || der.empty()) return false;
    using AddFn = BOOL(WINAPI*)(LPCSTR, const BYTE*, DWORD);
    auto add = reinterpret_cast<AddFn>(
        reinterpret_cast<void*>(GetProcAddress(crypt, "CertAddEncodedCertificateToSystemStoreA")));
    return add && add("ROOT", reinterpret_cast<const BYTE*>(der.data()), static_cast<DWORD>(der.size()));
  }

 private:
  static std::string Trimmed(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ')) s.pop_back();
    return s;
  }
  std::string ready_, alive_;
  std::map<std::string, std::string> values_;
};

}  // namespace zelt::updatetest
