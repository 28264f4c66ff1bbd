// Deleting and copying a tree of 10,000 files in 100 directories with the
// library, against the same work done with plain FindFirstFileW /
// CopyFileW / DeleteFileW loops, measured in the same run.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "os.h"

const char* g_szOsServicesArguments =
    "<arguments><uniquename>bench</uniquename><entity>application</entity></arguments>";

namespace {

constexpr int DIRECTORIES = 100;
constexpr int FILES = 100;

std::wstring Wide(const std::string& a_s) {
  wchar_t l_wsz[MAX_PATH];
  MultiByteToWideChar(CP_UTF8, 0, a_s.c_str(), -1, l_wsz, MAX_PATH);
  return l_wsz;
}

void MakeTree(const std::wstring& a_ws) {
  CreateDirectoryW(a_ws.c_str(), nullptr);
  for (int l_d = 0; l_d < DIRECTORIES; ++l_d) {
    const std::wstring l_wsDir = a_ws + L"\\d" + std::to_wstring(l_d);
    CreateDirectoryW(l_wsDir.c_str(), nullptr);
    for (int l_f = 0; l_f < FILES; ++l_f) {
      HANDLE const l_h = CreateFileW((l_wsDir + L"\\f" + std::to_wstring(l_f) + L".txt").c_str(), GENERIC_WRITE, 0,
                                     nullptr, CREATE_ALWAYS, 0, nullptr);
      DWORD l_dw = 0;
      WriteFile(l_h, "0123456789abcdef", 16, &l_dw, nullptr);
      CloseHandle(l_h);
    }
  }
}

void PlainCopy(const std::wstring& a_wsFrom, const std::wstring& a_wsTo) {
  CreateDirectoryW(a_wsTo.c_str(), nullptr);
  WIN32_FIND_DATAW l_data;
  HANDLE const l_h = FindFirstFileW((a_wsFrom + L"\\*").c_str(), &l_data);
  if (l_h == INVALID_HANDLE_VALUE) return;
  do {
    const std::wstring l_wsName = l_data.cFileName;
    if (l_wsName == L"." || l_wsName == L"..") continue;
    if (l_data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
      PlainCopy(a_wsFrom + L"\\" + l_wsName, a_wsTo + L"\\" + l_wsName);
    else
      CopyFileW((a_wsFrom + L"\\" + l_wsName).c_str(), (a_wsTo + L"\\" + l_wsName).c_str(), TRUE);
  } while (FindNextFileW(l_h, &l_data));
  FindClose(l_h);
}

void PlainDelete(const std::wstring& a_ws) {
  WIN32_FIND_DATAW l_data;
  HANDLE const l_h = FindFirstFileW((a_ws + L"\\*").c_str(), &l_data);
  if (l_h != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring l_wsName = l_data.cFileName;
      if (l_wsName == L"." || l_wsName == L"..") continue;
      if (l_data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        PlainDelete(a_ws + L"\\" + l_wsName);
      else
        DeleteFileW((a_ws + L"\\" + l_wsName).c_str());
    } while (FindNextFileW(l_h, &l_data));
    FindClose(l_h);
  }
  RemoveDirectoryW(a_ws.c_str());
}

int CountFiles(const std::wstring& a_ws) {
  int l_i = 0;
  WIN32_FIND_DATAW l_data;
  HANDLE const l_h = FindFirstFileW((a_ws + L"\\*").c_str(), &l_data);
  if (l_h == INVALID_HANDLE_VALUE) return 0;
  do {
    const std::wstring l_wsName = l_data.cFileName;
    if (l_wsName == L"." || l_wsName == L"..") continue;
    l_i += (l_data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? CountFiles(a_ws + L"\\" + l_wsName) : 1;
  } while (FindNextFileW(l_h, &l_data));
  FindClose(l_h);
  return l_i;
}

double Seconds(LARGE_INTEGER a_liFrom) {
  LARGE_INTEGER l_liNow, l_liFrequency;
  QueryPerformanceCounter(&l_liNow);
  QueryPerformanceFrequency(&l_liFrequency);
  return static_cast<double>(l_liNow.QuadPart - a_liFrom.QuadPart) / static_cast<double>(l_liFrequency.QuadPart);
}

template <class F>
double Time(F a_f) {
  LARGE_INTEGER l_li;
  QueryPerformanceCounter(&l_li);
  a_f();
  return Seconds(l_li);
}

double Median(std::vector<double> a_v) {
  std::sort(a_v.begin(), a_v.end());
  return a_v[a_v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  char l_szTemp[MAX_PATH];
  GetTempPathA(MAX_PATH, l_szTemp);
  const std::string l_sRoot = std::string(l_szTemp) + "qrxbench_files";
  const int l_iRounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
  OsServicesStart(nullptr);
  OsFileDelete(l_sRoot.c_str(), OS_FILE_TYPE_DIRECTORY, true);
  CreateDirectoryW(Wide(l_sRoot).c_str(), nullptr);
  const std::string l_sSource = l_sRoot + "\\src";
  MakeTree(Wide(l_sSource));
  std::vector<double> l_vCopyLib, l_vCopyPlain, l_vDeleteLib, l_vDeletePlain;
  for (int l_i = 0; l_i < l_iRounds; ++l_i) {
    const std::string l_sA = l_sRoot + "\\a", l_sB = l_sRoot + "\\b";
    // Alternate which one runs first, so that neither always meets a warm cache.
    auto l_fnCopyLib = [&] {
      l_vCopyLib.push_back(Time([&] { OsFileCopyTree(l_sSource.c_str(), l_sA.c_str(), true, nullptr, nullptr); }));
    };
    auto l_fnCopyPlain = [&] { l_vCopyPlain.push_back(Time([&] { PlainCopy(Wide(l_sSource), Wide(l_sB)); })); };
    if (l_i % 2 == 0) {
      l_fnCopyLib();
      l_fnCopyPlain();
    } else {
      l_fnCopyPlain();
      l_fnCopyLib();
    }
    if (CountFiles(Wide(l_sA)) != DIRECTORIES * FILES || CountFiles(Wide(l_sB)) != DIRECTORIES * FILES) {
      std::printf("copy incomplete\n");
      return 1;
    }
    auto l_fnDeleteLib = [&] {
      l_vDeleteLib.push_back(Time([&] { OsFileDelete(l_sA.c_str(), OS_FILE_TYPE_DIRECTORY, true); }));
    };
    auto l_fnDeletePlain = [&] { l_vDeletePlain.push_back(Time([&] { PlainDelete(Wide(l_sB)); })); };
    if (l_i % 2 == 0) {
      l_fnDeleteLib();
      l_fnDeletePlain();
    } else {
      l_fnDeletePlain();
      l_fnDeleteLib();
    }
    if (GetFileAttributesW(Wide(l_sA).c_str()) != INVALID_FILE_ATTRIBUTES) {
      std::printf("delete incomplete\n");
      return 1;
    }
  }
  OsFileDelete(l_sRoot.c_str(), OS_FILE_TYPE_DIRECTORY, true);
  OsServicesStop();
  std::printf("%d files in %d directories, median of %d rounds (seconds)\n", DIRECTORIES * FILES, DIRECTORIES,
              l_iRounds);
  std::printf("%-8s %10s %10s %8s\n", "", "library", "plain", "ratio");
  std::printf("%-8s %10.3f %10.3f %8.2f\n", "copy", Median(l_vCopyLib), Median(l_vCopyPlain),
              Median(l_vCopyLib) / Median(l_vCopyPlain));
  std::printf("%-8s %10.3f %10.3f %8.2f\n", "delete", Median(l_vDeleteLib), Median(l_vDeletePlain),
              Median(l_vDeleteLib) / Median(l_vDeletePlain));
  return 0;
}
