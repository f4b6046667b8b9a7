// The backing-file reply in each form a drive may answer it, turned into the
// path that the detach and the deletion take.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "linux/support/runtime/text.h"
#include "volumes/BackingFile.h"

namespace {

const std::map<std::wstring, std::wstring> kDosDevices = {
    {L"C:", L"\\Device\\HarddiskVolume3"},
    {L"D:", L"\\Device\\HarddiskVolume4"},
    {L"E:", L"\\Device\\HarddiskVolume1"},
    {L"PhysicalDrive0", L"\\Device\\Harddisk0\\DR0"},
    {L"Volume{0c1b2a39-4857-4665-8473-829100aabbcc}", L"\\Device\\HarddiskVolume4"}};

struct ReplyCase {
  const char* name;
  std::wstring reply;
  size_t bytesReturned;  // 0: the drive did not say
  std::wstring path;
};

class BackingFileReply : public ::testing::TestWithParam<ReplyCase> {};

TEST_P(BackingFileReply, GivesThePathToDetachAndDelete) {
  std::vector<wchar_t> buffer(260, L'\0');
  GetParam().reply.copy(buffer.data(), GetParam().reply.size());
  EXPECT_EQ(BackingFileFromReply(buffer.data(), GetParam().bytesReturned, buffer.size(),
                                 kDosDevices),
            GetParam().path);
}

constexpr size_t kUnit = sizeof(wchar_t);

INSTANTIATE_TEST_SUITE_P(
    Forms, BackingFileReply,
    ::testing::Values(
        ReplyCase{"win32_path", L"C:\\Users\\a\\kmd1.vhd", 0, L"C:\\Users\\a\\kmd1.vhd"},
        ReplyCase{"nt_path", L"\\??\\C:\\Users\\a\\kmd1.vhd", 0, L"C:\\Users\\a\\kmd1.vhd"},
        ReplyCase{"long_win32_path", L"\\\\?\\C:\\Users\\a\\kmd1.vhd", 0,
                  L"C:\\Users\\a\\kmd1.vhd"},
        ReplyCase{"nt_share", L"\\??\\UNC\\srv\\share\\kmd1.vhd", 0,
                  L"\\\\srv\\share\\kmd1.vhd"},
        ReplyCase{"long_share", L"\\\\?\\UNC\\srv\\share\\kmd1.vhd", 0,
                  L"\\\\srv\\share\\kmd1.vhd"},
        ReplyCase{"volume_device_with_a_letter", L"\\Device\\HarddiskVolume4\\img\\kmd1.vhd", 0,
                  L"D:\\img\\kmd1.vhd"},
        // Volume10 is not Volume1, which E: names.
        ReplyCase{"volume_device_without_a_letter", L"\\Device\\HarddiskVolume10\\img\\kmd1.vhd",
                  0, L"\\\\?\\GLOBALROOT\\Device\\HarddiskVolume10\\img\\kmd1.vhd"},
        ReplyCase{"linux_path", L"/tmp/brackwen-0/kmd1.vhd", 0, L"/tmp/brackwen-0/kmd1.vhd"},
        // A counted reply without its NUL ends where the returned bytes end.
        ReplyCase{"counted_without_nul", L"C:\\a\\kmd1.vhdXYZ", 13 * kUnit, L"C:\\a\\kmd1.vhd"},
        ReplyCase{"counted_with_nul", L"C:\\a\\kmd1.vhd", 14 * kUnit, L"C:\\a\\kmd1.vhd"},
        ReplyCase{"empty", L"", 0, L""}),
    [](const ::testing::TestParamInfo<ReplyCase>& info) { return std::string(info.param.name); });

TEST(BackingFileOwner, OnlyFilesNamedExactlyLikeOurTemporaryFilesAreOurs) {
  struct Case {
    std::wstring name;
    bool disk, orTmp;  // IsOwnTempFile; HasOwnTempFileForm with ".tmp"
  } cases[] = {{L"kmd1A.vhd", true, true},      {L"kmdff00.vhdx", true, true},
               {L"kmd1A.tmp", false, true},     {L"phone.vhd", false, false},
               {L"KMD1A.vhd", false, false},    {L"kmdmine.img", false, false},
               {L"kmd1G.vhd", false, false},    {L"kmd123456789.vhd", false, false},
               {L"kmd1A.vhd.bak", false, false}};
  for (const Case& c : cases) {
    EXPECT_EQ(IsOwnTempFile(L"/tmp/brackwen-0/" + c.name), c.disk) << ToUtf8(c.name);
    EXPECT_EQ(HasOwnTempFileForm(c.name, true), c.orTmp) << ToUtf8(c.name);
  }
}

}  // namespace
