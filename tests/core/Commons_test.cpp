#include "Commons.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

namespace {

// A scratch file removed at the end of the test.
class TTempFile {
 public:
  explicit TTempFile(const std::string& Contents) {
    char name[] = "/tmp/kq_commons_XXXXXX";
    const int fd = mkstemp(name);
    EXPECT_GE(fd, 0);
    close(fd);
    FName = name;
    std::ofstream(FName, std::ios::binary) << Contents;
  }
  ~TTempFile() { std::remove(FName.c_str()); }
  const std::string& Name() const { return FName; }

 private:
  std::string FName;
};

std::string RecordBytes(uint32_t VersionMS, uint32_t VersionLS, uint32_t Flags) {
  TFixedFileInfo info{};
  info.dwSignature = VS_FIXEDFILEINFO_SIGNATURE;
  info.dwStrucVersion = VS_FIXEDFILEINFO_STRUCVERSION;
  info.dwFileVersionMS = VersionMS;
  info.dwFileVersionLS = VersionLS;
  info.dwFileFlagsMask = 0x3F;
  info.dwFileFlags = Flags;
  std::string bytes(sizeof info, '\0');
  std::memcpy(bytes.data(), &info, sizeof info);  // little-endian host
  return bytes;
}

TEST(VersionRecord, FoundAnywhereInAFileWithItsFlagsAppended) {
  // The record straddles the scanner's 1 MiB read boundary; a lone signature
  // without the structure version before it must not be taken.
  std::string contents(1024 * 1024 - 20, 'x');
  contents += std::string("\xBD\x04\xEF\xFE", 4) + "garbage";
  contents += RecordBytes(0x00010007, 0x00010000, VS_FF_DEBUG | VS_FF_PRIVATEBUILD);
  contents += std::string(100, 'y');
  const TTempFile file(contents);
  EXPECT_EQ(GetVersionStr(file.Name()), "1.7.1.0 Debug Private Build");

  const TTempFile plain(RecordBytes(0x00010007, 0x00010000, 0));
  EXPECT_EQ(GetVersionStr(plain.Name()), "1.7.1.0");
}

TEST(VersionRecord, FlagsAreTestedAsStoredInTheirFixedOrder) {
  TFixedFileInfo info{};
  info.dwFileVersionMS = 0xFFFF0002;
  info.dwFileVersionLS = 0x0003FFFF;
  info.dwFileFlags = 0xFF;  // the mask is 0 and is not applied
  EXPECT_EQ(FormatVersion(info), "65535.2.3.65535 Debug Pre Release Private Build Special Build");
}

TEST(VersionRecord, FilesWithoutARecordGiveTheEmptyText) {
  const TTempFile text("just some text, no version here\n");
  EXPECT_EQ(GetVersionStr(text.Name()), "");
  const TTempFile truncated(RecordBytes(0x00010000, 0, 0).substr(0, 40));
  EXPECT_EQ(GetVersionStr(truncated.Name()), "");
  const TTempFile empty("");
  EXPECT_EQ(GetVersionStr(empty.Name()), "");
  EXPECT_EQ(GetVersionStr("/nonexistent/kq517/file"), "");
  // This test program carries no record, though its code holds the signature
  // as a constant: the ELF section table decides, not a byte match.
  EXPECT_EQ(GetVersionStr(""), "");
  EXPECT_EQ(GetVersionStr(ProgramFileName()), "");
}

TEST(VersionRecord, NamesThatAreNoRegularFileGiveTheEmptyTextWithoutWaiting) {
  char folder[] = "/tmp/kq_commons_dir_XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  const std::string fifo = std::string(folder) + "/pipe";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(GetVersionStr(folder), "");
  // Nobody ever writes to the pipe: reading it would wait for ever, so the
  // look-up runs in a child process that an alarm ends after a few seconds.
  EXPECT_EXIT(
      {
        alarm(10);
        std::_Exit(GetVersionStr(fifo).empty() ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
  std::remove(fifo.c_str());
  rmdir(folder);
}

TEST(VersionRecord, DamagedElfHeadersNeitherCrashNorFindAnything) {
  std::string elf =
      "\x7F"
      "ELF";
  elf += std::string("\x02\x01\x01", 3) + std::string(64 - 7, '\xFF');  // offsets far past the end
  const TTempFile damaged(elf + RecordBytes(0x00010000, 0, 0));
  EXPECT_EQ(GetVersionStr(damaged.Name()), "");
}

TEST(OperatingSystem, WindowsVersionTable) {
  const struct {
    TWindowsVersion Version;
    const char* Name;
  } cases[] = {
      {{5, 0, 1, 0}, "Windows 2000"},
      {{5, 1, 3, 0}, "Windows XP"},
      {{5, 2, 1, 0}, "Windows Server 2003"},
      {{5, 2, 3, 1}, "Windows Server 2003 R2"},
      {{6, 0, 1, 0}, "Windows Vista"},
      {{6, 0, 2, 0}, "Windows Server 2008"},
      {{6, 1, 1, 0}, "Windows 7"},
      {{6, 1, 3, 0}, "Windows Server 2008 R2"},
      {{6, 2, 1, 0}, "Windows 8"},
      {{6, 3, 3, 0}, "Windows Server 2012 R2"},
      {{10, 0, 1, 0}, "Windows 10"},
      {{10, 0, 3, 0}, "Windows Server 2016 T.P."},
      {{6, 4, 1, 0}, ""},
      {{4, 0, 1, 0}, ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(WindowsVersionName(c.Version), c.Name)
        << c.Version.Major << "." << c.Version.Minor << " type " << int(c.Version.ProductType);
  }
}

TEST(OperatingSystem, OsReleaseNames) {
  EXPECT_EQ(OsReleasePrettyName(
                "NAME=\"Debian GNU/Linux\"\nPRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\n"),
            "Debian GNU/Linux 12 (bookworm)");
  EXPECT_EQ(OsReleasePrettyName("# comment\r\nPRETTY_NAME='Single \\ Quoted'\r\n"),
            "Single \\ Quoted");
  EXPECT_EQ(OsReleasePrettyName("PRETTY_NAME=\"Say \\\"hi\\\" \\$HOME\"\n"), "Say \"hi\" $HOME");
  EXPECT_EQ(OsReleasePrettyName("NAME=Fedora\nVERSION=\"39 (Workstation)\"\n"),
            "Fedora 39 (Workstation)");
  EXPECT_EQ(OsReleasePrettyName(""), "Linux");
  EXPECT_FALSE(GetOSString().empty());
}

TEST(Memory, KilobytesGroupedByTheGivenSeparator) {
  const uint64_t eightGiB = 8ull * 1024 * 1024 * 1024;
  EXPECT_EQ(FormatMemoryKB(eightGiB, ","), "8,388,608 KB");
  EXPECT_EQ(FormatMemoryKB(eightGiB, "."), "8.388.608 KB");
  EXPECT_EQ(FormatMemoryKB(eightGiB, "\u202F"),
            "8\u202F388\u202F608 KB");  // a multi-byte separator
  EXPECT_EQ(FormatMemoryKB(1024 * 999, ","), "999 KB");
  EXPECT_EQ(FormatMemoryKB(1024 * 1000 + 1023, ","), "1,000 KB");  // whole kilobytes only
  EXPECT_EQ(FormatMemoryKB(1024ull * 123456789012, "."), "123.456.789.012 KB");  // beyond 32 bits
  EXPECT_GT(TotalPhysicalMemory(), 0u);
}

TEST(Conversion, StrToIntAcceptsOnlyWholeDecimalIntegers) {
  EXPECT_EQ(StrToInt("502"), 502);
  EXPECT_EQ(StrToInt(" -12 "), -12);
  EXPECT_EQ(StrToInt("+7"), 7);
  EXPECT_EQ(StrToInt("2147483647"), 2147483647);
  for (const char* bad :
       {"", " ", "abc", "12a", "1 2", "-", "0x10", "2147483648", "99999999999999999999"}) {
    EXPECT_THROW(StrToInt(bad), EConvertError) << bad;
  }
  try {
    StrToInt("abc");
  } catch (const EConvertError& error) {
    EXPECT_STREQ(error.what(), "'abc' is not a valid integer value");
  }
}

}  // namespace
