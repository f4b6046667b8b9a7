// Checks of the Windows build's own behaviour, run under Wine by the smoke
// test: the path functions with both separators, which files the sweep takes
// as its own in each backing-file form, prints that keep the last error, and
// a status line's final text in a redirected log.
// Each failing check prints a line; the exit code is the number of failures.
#include <cstdio>
#include <map>
#include <string>

#include "common/PathFunctions.h"
#include "common/StatusLine.h"
#include "platform.h"
#include "volumes/BackingFile.h"

namespace {
int failures = 0;

void Check(bool passed, const wchar_t* what, const std::wstring& detail) {
  if (passed) return;
  ++failures;
  fwprintf(stderr, L"FAIL: %ls: %ls\n", what, detail.c_str());
}

void CheckPathNames() {
  struct Case {
    std::wstring path, baseName, folderName;
  } cases[] = {
      {L"C:/img/phone.ffu", L"phone", L"img\\"},
      {L"C:\\img\\phone.ffu", L"phone", L"img\\"},
      {L"C:\\img/sub\\phone.ffu", L"phone", L"sub\\"},
      {L"C:/img.old/phone", L"phone", L"img.old\\"},
      {L"phone.ffu", L"phone", L"phone.ff\\"},
  };
  for (const Case& c : cases) {
    Check(FileBaseName(c.path) == c.baseName, L"base name", c.path);
    std::wstring folder = c.path.substr(0, c.path.find_last_of(L"\\/") + 1);
    if (!folder.empty()) Check(FolderName(folder) == c.folderName, L"folder name", folder);
  }
}

void CheckOwnFilesInEachForm() {
  const std::map<std::wstring, std::wstring> devices = {{L"C:", L"\\Device\\HarddiskVolume3"}};
  struct Case {
    std::wstring reply, path;
    bool ours;
  } cases[] = {
      {L"C:\\Users\\a\\AppData\\Local\\Temp\\kmd1A.vhd",
       L"C:\\Users\\a\\AppData\\Local\\Temp\\kmd1A.vhd", true},
      {L"\\??\\C:\\Temp\\kmd1A.vhd", L"C:\\Temp\\kmd1A.vhd", true},
      {L"\\\\?\\C:\\Temp\\kmd1A.vhd", L"C:\\Temp\\kmd1A.vhd", true},
      {L"\\Device\\HarddiskVolume3\\Temp\\kmd1A.vhd", L"C:\\Temp\\kmd1A.vhd", true},
      {L"\\Device\\HarddiskVolume7\\Temp\\kmd1A.vhd",
       L"\\\\?\\GLOBALROOT\\Device\\HarddiskVolume7\\Temp\\kmd1A.vhd", true},
      {L"C:/Temp/kmd1A.vhd", L"C:/Temp/kmd1A.vhd", true},
      {L"\\??\\C:\\kmd\\phone.vhd", L"C:\\kmd\\phone.vhd", false},
  };
  for (const Case& c : cases) {
    wchar_t reply[260] = {};
    c.reply.copy(reply, c.reply.size());
    std::wstring path = BackingFileFromReply(reply, 0, 260, devices);
    Check(path == c.path, L"backing file path", c.reply + L" -> " + path);
    Check(IsOwnTempFile(path) == c.ours, L"own temporary file", path);
  }
}

void CheckPrintsKeepTheLastError() {
  SetLastError(ERROR_NOT_READY);
  PrintWide(L"wide %s\n", L"line");
  Check(GetLastError() == ERROR_NOT_READY, L"last error after PrintWide", L"");
  PrintNarrow("narrow %d\n", 1);
  Check(GetLastError() == ERROR_NOT_READY, L"last error after PrintNarrow", L"");
  PrintWideText(L"text\n");
  Check(GetLastError() == ERROR_NOT_READY, L"last error after PrintWideText", L"");
}

// Output goes to a file: the final text stands before what follows it.
void PrintFinishedStatusLine() {
  StatusLine status;
  status.Begin(L"Loading .FFU image ... processing\n");
  status.Finish(L"Loading .FFU image ... ok         \n");
  PrintWideText(L"after\n");
}
}  // namespace

int wmain() {
  CheckPathNames();
  CheckOwnFilesInEachForm();
  CheckPrintsKeepTheLastError();
  PrintFinishedStatusLine();
  return failures;
}
