// Entry names: which names the setup can write as plain files into its one
// target folder, and which names would land on one file there.
#include "qor/payload_core/archive_core.h"

#include "name_case.h"

#include <algorithm>
#include <map>
#include <tuple>
#include <utility>

namespace QorArchiveFormat {

namespace {

// What NTFS and FAT allow in one name, in UTF-16 code units.
const std::size_t kMaxNameUnits = 255;

bool Refuse(std::u16string* reason, const std::u16string& text) {
  if (reason) {
    *reason = text;
  }
  return false;
}

std::u16string Hex4(unsigned value) {
  std::u16string text = u"U+";
  for (int shift = 12; shift >= 0; shift -= 4) {
    text += u"0123456789ABCDEF"[(value >> shift) & 15];
  }
  return text;
}

// CON, PRN, AUX, NUL, COM1-9, LPT1-9 (and the superscript digits ¹ ² ³ that
// the system reads as 1 2 3), CONIN$ and CONOUT$, with or without an
// extension: the system opens the device whatever folder is in front.
bool IsDeviceName(const std::u16string& name) {
  std::u16string stem = name.substr(0, name.find(u'.'));
  while (!stem.empty() && stem.back() == u' ') {
    stem.pop_back();
  }
  for (char16_t& c : stem) {
    if (c >= u'a' && c <= u'z') {
      c = static_cast<char16_t>(c - u'a' + u'A');
    }
  }
  if (stem == u"CON" || stem == u"PRN" || stem == u"AUX" || stem == u"NUL" || stem == u"CONIN$" ||
      stem == u"CONOUT$") {
    return true;
  }
  const bool digit =
      stem.size() == 4 && ((stem[3] >= u'1' && stem[3] <= u'9') || stem[3] == u'\u00B9' ||
                           stem[3] == u'\u00B2' || stem[3] == u'\u00B3');
  return digit && (stem.compare(0, 3, u"COM") == 0 || stem.compare(0, 3, u"LPT") == 0);
}

// Upper case as the file system compares names: the full simple uppercase
// mapping, one code unit at a time (surrogate halves stay). A pair that the
// rule let through would only be refused when the setup writes the second
// file (every file is created new), after the first was written.
char16_t FoldCase(char16_t c) {
  if (c < 0x80) {
    return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - u'a' + u'A') : c;
  }
  const Detail::CasePair* end = Detail::kUpperCasePairs + Detail::kUpperCasePairCount;
  const Detail::CasePair* found = std::lower_bound(
      Detail::kUpperCasePairs, end, c,
      [](const Detail::CasePair& pair, char16_t unit) { return pair.unit < unit; });
  return found != end && found->unit == c ? found->upper : c;
}

// A name as the file system stores it: trailing dots and spaces go, letter
// case does not count.
std::u16string NameKey(std::u16string name) {
  while (!name.empty() && (name.back() == u'.' || name.back() == u' ')) {
    name.pop_back();
  }
  for (char16_t& c : name) {
    c = FoldCase(c);
  }
  return name;
}

// The short alias's parts when key (already folded) has its shape: up to
// six characters, "~", digits, and an extension of at most three.
bool SplitShortAlias(const std::u16string& key, std::u16string& stem, std::u16string& extension) {
  const std::size_t dot = key.find(u'.');
  const std::u16string base = key.substr(0, dot);
  extension = dot == std::u16string::npos ? u"" : key.substr(dot + 1);
  const std::size_t tilde = base.find(u'~');
  if (base.size() > 8 || extension.size() > 3 || extension.find(u'.') != std::u16string::npos ||
      tilde == std::u16string::npos || tilde == 0 || tilde + 1 == base.size()) {
    return false;
  }
  for (std::size_t i = tilde + 1; i < base.size(); ++i) {
    if (base[i] < u'0' || base[i] > u'9') {
      return false;
    }
  }
  stem = base.substr(0, tilde);
  return true;
}

// Whether key (folded) is a valid short name as it stands: such a name is
// its own short name and gets no alias.
bool FitsShortForm(const std::u16string& key) {
  const std::size_t dot = key.find(u'.');
  const std::size_t baseSize = dot == std::u16string::npos ? key.size() : dot;
  if (baseSize == 0 || baseSize > 8 ||
      (dot != std::u16string::npos &&
       (key.size() - dot - 1 > 3 || key.find(u'.', dot + 1) != std::u16string::npos))) {
    return false;
  }
  for (char16_t c : key) {
    if (c > 0x7E || c <= u' ' || std::u16string(u"+,;=[]").find(c) != std::u16string::npos) {
      return false;
    }
  }
  return true;
}

// What of a long name its short alias keeps: the system keeps the first
// characters of the name (at least two, the rest may be a hash), drops
// spaces and inner dots, and keeps three characters of the extension.
struct AliasSource {
  std::u16string base;      // the name before its last dot, spaces and dots dropped
  std::u16string extension; // up to three characters after the last dot, spaces dropped
};

AliasSource AliasSourceOf(const std::u16string& longKey) {
  AliasSource source;
  const std::size_t dot = longKey.rfind(u'.');
  const std::size_t baseEnd = dot == std::u16string::npos ? longKey.size() : dot;
  for (std::size_t i = 0; i < baseEnd; ++i) {
    if (longKey[i] != u' ' && longKey[i] != u'.') {
      source.base.push_back(longKey[i]);
    }
  }
  for (std::size_t i = baseEnd + 1; i < longKey.size() && source.extension.size() < 3; ++i) {
    if (longKey[i] != u' ') {
      source.extension.push_back(longKey[i]);
    }
  }
  return source;
}

// The alias's characters that must match a long name: the first one or two
// of its stem, then its extension. "_" stands for what the short form cannot
// hold, so it matches any character: those positions are left out of the
// comparison (the mask) and written as 0.
struct AliasShape {
  std::size_t kept;      // characters of the stem compared, 1 or 2
  std::size_t extension; // length of the extension
  unsigned mask;         // bit i: position i is a "_"

  bool operator<(const AliasShape& o) const {
    return std::tie(kept, extension, mask) < std::tie(o.kept, o.extension, o.mask);
  }
};

// The long name's characters at the pattern's positions, masked alike.
// False when the long name cannot give an alias of that shape.
bool Project(const AliasSource& source, const AliasShape& shape, std::u16string& text) {
  if (source.base.size() < shape.kept || source.extension.size() != shape.extension) {
    return false;
  }
  text = source.base.substr(0, shape.kept) + source.extension;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (shape.mask & (1u << i)) {
      text[i] = 0;
    }
  }
  return true;
}

// Two entries by their indices, the first pair in table order first.
typedef std::pair<std::size_t, std::size_t> Pair;

} // namespace

bool IsSafeEntryName(const std::u16string& name, std::u16string* reason) {
  if (name.empty()) {
    return Refuse(reason, u"the entry has no name");
  }
  if (name.size() > kMaxNameUnits) {
    return Refuse(reason, u"the name is longer than 255 characters, the most a Windows file name "
                          u"may have");
  }
  for (char16_t c : name) {
    if (c < 0x20) {
      return Refuse(reason, u"the name holds the control character " + Hex4(c) +
                                u", which Windows file names may not hold");
    }
    if (c == u'/' || c == u'\\') {
      return Refuse(reason, std::u16string(u"the name holds the folder separator \"") + c +
                                u"\": the setup writes files into one folder only");
    }
    if (std::u16string(u"<>:\"|?*").find(c) != std::u16string::npos) {
      return Refuse(reason, std::u16string(u"the name holds \"") + c +
                                u"\", which Windows file names may not hold");
    }
  }
  if (name.find_first_not_of(u". ") == std::u16string::npos) {
    return Refuse(reason, u"the name is made of dots and spaces only");
  }
  if (name.back() == u'.' || name.back() == u' ') {
    return Refuse(reason, u"the name ends in a dot or a space, which Windows removes, so the "
                          u"file would get another name");
  }
  if (IsDeviceName(name)) {
    return Refuse(reason, u"the name is a reserved device name");
  }
  if (reason) {
    reason->clear();
  }
  return true;
}

bool NamesOneFile(const std::u16string& first, const std::u16string& second) {
  return NameKey(first) == NameKey(second);
}

// Sorting and looking up in sorted lists: n log n for any number of names,
// since the launcher runs the same check on whatever table it is given.
bool FindNameClash(const std::vector<std::u16string>& names, std::u16string* reason) {
  std::vector<std::u16string> keys;
  keys.reserve(names.size());
  for (const std::u16string& name : names) {
    keys.push_back(NameKey(name));
  }
  auto found = [&](const Pair& pair, const char16_t* why) {
    if (reason) {
      *reason =
          u"the entries \"" + names[pair.first] + u"\" and \"" + names[pair.second] + u"\" " + why;
    }
    return true;
  };

  // Equal keys: one file. Of all such pairs the one with the earliest entries.
  std::vector<std::size_t> order(names.size());
  for (std::size_t i = 0; i < order.size(); ++i) {
    order[i] = i;
  }
  std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    const int c = keys[a].compare(keys[b]);
    return c < 0 || (c == 0 && a < b);
  });
  bool same = false;
  Pair best = {0, 0};
  for (std::size_t i = 1; i < order.size(); ++i) {
    if (keys[order[i]] == keys[order[i - 1]] && (i < 2 || keys[order[i - 2]] != keys[order[i]])) {
      const Pair pair = {order[i - 1], order[i]};
      if (!same || pair < best) {
        best = pair;
      }
      same = true;
    }
  }
  if (same) {
    return found(best, u"would be written to one file");
  }

  // A name shaped like the short alias that the system may give another:
  // the aliases are grouped by their shape, and for each shape the long
  // names' matching characters are sorted once and looked up.
  std::map<AliasShape, std::vector<std::pair<std::u16string, std::size_t>>> aliases;
  for (std::size_t i = 0; i < keys.size(); ++i) {
    std::u16string stem;
    std::u16string extension;
    if (!SplitShortAlias(keys[i], stem, extension)) {
      continue;
    }
    AliasShape shape = {std::min<std::size_t>(stem.size(), 2), extension.size(), 0};
    std::u16string text = stem.substr(0, shape.kept) + extension;
    for (std::size_t p = 0; p < text.size(); ++p) {
      if (text[p] == u'_') {
        shape.mask |= 1u << p;
        text[p] = 0;
      }
    }
    aliases[shape].emplace_back(text, i);
  }
  if (aliases.empty()) {
    if (reason) {
      reason->clear();
    }
    return false;
  }
  std::vector<std::pair<std::size_t, AliasSource>> longNames;
  for (std::size_t i = 0; i < keys.size(); ++i) {
    if (!FitsShortForm(keys[i])) {
      longNames.emplace_back(i, AliasSourceOf(keys[i]));
    }
  }
  bool alias = false;
  for (const auto& group : aliases) {
    std::vector<std::pair<std::u16string, std::size_t>> projected;
    std::u16string text;
    for (const auto& candidate : longNames) {
      if (Project(candidate.second, group.first, text)) {
        projected.emplace_back(text, candidate.first);
      }
    }
    std::sort(projected.begin(), projected.end());
    for (const auto& wanted : group.second) {
      auto it = std::lower_bound(projected.begin(), projected.end(),
                                 std::make_pair(wanted.first, std::size_t(0)));
      // The alias itself may be among the long names: the next one then.
      if (it != projected.end() && it->first == wanted.first && it->second == wanted.second) {
        ++it;
      }
      if (it != projected.end() && it->first == wanted.first) {
        const Pair pair = {wanted.second, it->second};
        if (!alias || pair < best) {
          best = pair;
        }
        alias = true;
      }
    }
  }
  if (alias) {
    return found(best, u"may name one file: the first is shaped like the short name of the second");
  }
  if (reason) {
    reason->clear();
  }
  return false;
}

} // namespace QorArchiveFormat
