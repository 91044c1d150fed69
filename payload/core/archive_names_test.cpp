// The entry-name rule's letter case natively, under the sanitizers
// (tools/host): which pairs of names land on one file in a Windows folder.
#include "qor/payload_core/archive_core.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::string Utf8(const std::u16string& text) {
  std::string out;
  for (char16_t unit : text) {
    if (unit < 0x80) {
      out += static_cast<char>(unit);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\u%04X", static_cast<unsigned>(unit));
      out += hex;
    }
  }
  return out;
}

} // namespace

// Upper case by Unicode's full simple mapping, one UTF-16 unit at a time,
// as NTFS compares names: letters of every script fold; what has no simple
// upper case (ß, whose upper case is two letters), non-letters and
// characters beyond the basic multilingual plane do not.
TEST(EntryNameCase, PairsThatNameOneFile) {
  struct Case {
    std::u16string first, second;
    bool oneFile;
  } cases[] = {
      {u"a.txt", u"A.TXT", true},
      {u"VTRInstaller.exe", u"vtrinstaller.EXE", true},
      {u"\u0561.txt", u"\u0531.txt", true}, // Armenian ա Ա
      {u"\u03AC", u"\u0386", true},         // Greek ά Ά
      {u"\u0461", u"\u0460", true},         // Cyrillic ѡ Ѡ
      {u"\u00E9t\u00E9", u"\u00C9T\u00C9", true},
      {u"\u0434\u0430\u043D\u043D\u044B\u0435", u"\u0414\u0410\u041D\u041D\u042B\u0415", true},
      {u"\u01C6", u"\u01C4", true}, // dž DŽ
      {u"\u01C5", u"\u01C4", true}, // the title case Dž too
      {u"\u03C2", u"\u03A3", true}, // final sigma
      {u"\u1F00", u"\u1F08", true}, // Greek extended
      {u"\u10D0", u"\u1C90", true}, // Georgian
      {u"\u24D0", u"\u24B6", true}, // circled letters
      {u"\uFF41", u"\uFF21", true}, // full-width
      {u"readme.txt", u"README.TXT.", true},
      // No simple upper case, or not letters at all.
      {u"\u00DF", u"\u1E9E", false}, // ß and capital ẞ
      {u"\u00DF", u"SS", false},
      {u"1-2_3.txt", u"1-2_3.TXT", true},
      {u"[a]+,;=", u"[A]+,;=", true},
      {u"[a]", u"{a}", false},
      {u"@", u"`", false},
      {u"\u00B9", u"1", false},
      {u"\u00D7", u"\u00F7", false},         // × ÷ lie between the Latin letters
      {u"\U00010428", u"\U00010400", false}, // Deseret: beyond the plane
      {u"\U0001F600", u"\U0001F601", false},
      {u"a", u"b", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Utf8(c.first) + " / " + Utf8(c.second));
    EXPECT_EQ(c.oneFile, QorArchiveFormat::NamesOneFile(c.first, c.second));
    EXPECT_EQ(c.oneFile, QorArchiveFormat::NamesOneFile(c.second, c.first));
    std::u16string reason;
    const std::vector<std::u16string> names = {u"VTRInstaller.exe", c.first, c.second};
    EXPECT_EQ(c.oneFile, QorArchiveFormat::FindNameClash(names, &reason));
    EXPECT_EQ(c.oneFile, !reason.empty());
  }
}
