// Reports what Windows itself reads from an installed file, for the installer
// test (scripts/installer-test.sh); one "key=value" line each, in UTF-8:
//   install_probe version FILE  the version resource (GetFileVersionInfoW) and
//                               the number of icons (ExtractIconExW)
//   install_probe link FILE     a shortcut's target and icon (IShellLinkW)
#include <windows.h>
#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/win32/text.h"

namespace {

using qorvel::platform::win32::Narrow;

void Print(const char* key, std::wstring_view value) {
  std::printf("%s=%s\n", key, Narrow(value).c_str());
}

int Version(const wchar_t* file) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(file, &ignored);
  if (size == 0) return 1;
  std::vector<unsigned char> data(size);
  if (!GetFileVersionInfoW(file, 0, size, data.data())) return 1;
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length)) return 1;
  std::printf("fixed=%u.%u.%u.%u\n", HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
              HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS));
  struct Translation {
    WORD language, code_page;
  }* translation = nullptr;
  if (!VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation),
                      &length) ||
      length < sizeof(Translation))
    return 1;
  std::printf("translation=%04x%04x\n", translation->language, translation->code_page);
  std::printf("icons=%u\n", ExtractIconExW(file, -1, nullptr, nullptr, 0));
  for (const wchar_t* key : {L"ProductName", L"FileDescription", L"FileVersion", L"ProductVersion"}) {
    wchar_t path[128];
    swprintf(path, 128, L"\\StringFileInfo\\%04x%04x\\%ls", translation->language, translation->code_page, key);
    wchar_t* value = nullptr;
    if (VerQueryValueW(data.data(), path, reinterpret_cast<void**>(&value), &length) && value != nullptr)
      Print(Narrow(key).c_str(), value);
  }
  return 0;
}

int Link(const wchar_t* file) {
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
  IShellLinkW* link = nullptr;
  IPersistFile* persist = nullptr;
  int result = 1;
  if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                 reinterpret_cast<void**>(&link))) &&
      SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&persist))) &&
      SUCCEEDED(persist->Load(file, STGM_READ))) {
    wchar_t text[MAX_PATH] = L"";
    int index = 0;
    if (SUCCEEDED(link->GetPath(text, MAX_PATH, nullptr, SLGP_RAWPATH))) Print("target", text);
    text[0] = L'\0';
    if (SUCCEEDED(link->GetIconLocation(text, MAX_PATH, &index))) {
      Print("icon", text);
      std::printf("icon_index=%d\n", index);
    }
    result = 0;
  }
  if (persist != nullptr) persist->Release();
  if (link != nullptr) link->Release();
  CoUninitialize();
  return result;
}

}  // namespace

int main() {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argv == nullptr || argc != 3) {
    std::fprintf(stderr, "usage: install_probe version|link FILE\n");
    return 2;
  }
  const std::wstring what = argv[1];
  const int result = what == L"version" ? Version(argv[2]) : what == L"link" ? Link(argv[2]) : 2;
  LocalFree(argv);
  return result;
}
