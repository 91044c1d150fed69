// Entry names: what may be written below a target folder, and which names
// would land on one file there.
#include "qor/payload/archive_core.h"

#include <algorithm>

namespace QorArchiveFormat {

namespace {

bool IsSeparator(char16_t c) {
  return c == u'\\' || c == u'/';
}

bool Refuse(std::u16string* reason, const char16_t* text) {
  if (reason) {
    *reason = text;
  }
  return false;
}

// CON, PRN, AUX, NUL, COM1-9, LPT1-9 (and the superscript digits ¹ ² ³ that
// the system reads as 1 2 3), CONIN$ and CONOUT$, with or without an
// extension: the system opens the device whatever folder is in front.
bool IsDeviceName(const std::u16string& component) {
  std::u16string stem = component.substr(0, component.find(u'.'));
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

// Upper case as the file system compares names. Beyond ASCII this covers the
// Latin, Greek and Cyrillic letters and the full-width forms; a fold that
// misses a pair only lets a clash through to the writing step, where the
// later file overwrites the earlier, as before.
char16_t FoldCase(char16_t c) {
  const unsigned u = static_cast<unsigned>(c);
  if ((u >= 'a' && u <= 'z') || (u >= 0xE0 && u <= 0xFE && u != 0xF7) ||
      (u >= 0x3B1 && u <= 0x3CB && u != 0x3C2) || (u >= 0x430 && u <= 0x44F)) {
    return static_cast<char16_t>(u - 0x20);
  }
  if (u >= 0xFF41 && u <= 0xFF5A) {
    return static_cast<char16_t>(u - 0x20);
  }
  if (u >= 0x450 && u <= 0x45F) {
    return static_cast<char16_t>(u - 0x50);
  }
  if (u == 0xFF) {
    return static_cast<char16_t>(0x178);
  }
  if (u == 0x3C2) {
    return static_cast<char16_t>(0x3A3);
  }
  // Latin Extended-A pairs: upper case even, lower case odd, in two runs.
  if (((u >= 0x100 && u <= 0x137) || (u >= 0x14A && u <= 0x177)) && (u & 1)) {
    return static_cast<char16_t>(u - 1);
  }
  if (((u >= 0x139 && u <= 0x148) || (u >= 0x179 && u <= 0x17E)) && !(u & 1)) {
    return static_cast<char16_t>(u - 1);
  }
  return c;
}

std::vector<std::u16string> SplitComponents(const std::u16string& name) {
  std::vector<std::u16string> parts(1);
  for (char16_t c : name) {
    if (IsSeparator(c)) {
      parts.emplace_back();
    } else {
      parts.back().push_back(c);
    }
  }
  return parts;
}

// A component as the file system stores it: trailing dots and spaces go,
// letter case does not count.
std::u16string ComponentKey(std::u16string component) {
  while (!component.empty() && (component.back() == u'.' || component.back() == u' ')) {
    component.pop_back();
  }
  for (char16_t& c : component) {
    c = FoldCase(c);
  }
  return component;
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

// Whether key (folded) is a valid short name as it stands.
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

// Whether the system could give longKey (folded) the alias stem~N.extension.
// The system keeps the first characters of the name (at least two, the rest
// may be a hash), drops spaces and inner dots, keeps three characters of the
// extension and writes "_" for what the short form cannot hold, so "_" in
// the alias matches any character.
bool CouldBeAliasOf(const std::u16string& stem, const std::u16string& extension,
                    const std::u16string& longKey) {
  if (FitsShortForm(longKey)) {
    return false; // such a name is its own short name: it gets no alias
  }
  std::u16string base = longKey;
  std::u16string longExtension;
  const std::size_t dot = longKey.rfind(u'.');
  if (dot != std::u16string::npos) {
    base = longKey.substr(0, dot);
    longExtension = longKey.substr(dot + 1);
  }
  std::u16string cleanBase;
  for (char16_t c : base) {
    if (c != u' ' && c != u'.') {
      cleanBase.push_back(c);
    }
  }
  std::u16string cleanExtension;
  for (char16_t c : longExtension) {
    if (c != u' ' && cleanExtension.size() < 3) {
      cleanExtension.push_back(c);
    }
  }
  auto same = [](char16_t alias, char16_t original) { return alias == u'_' || alias == original; };
  const std::size_t kept = std::min<std::size_t>(stem.size(), 2);
  if (cleanBase.size() < kept || extension.size() != cleanExtension.size()) {
    return false;
  }
  for (std::size_t i = 0; i < kept; ++i) {
    if (!same(stem[i], cleanBase[i])) {
      return false;
    }
  }
  for (std::size_t i = 0; i < extension.size(); ++i) {
    if (!same(extension[i], cleanExtension[i])) {
      return false;
    }
  }
  return true;
}

} // namespace

bool IsSafeEntryName(const std::u16string& name, std::u16string* reason) {
  if (name.empty()) {
    return Refuse(reason, u"the entry has no name");
  }
  if (name.find(u':') != std::u16string::npos) {
    return Refuse(reason, u"the entry name has a drive, device or stream part");
  }
  if (IsSeparator(name.front())) {
    return Refuse(reason, u"the entry name is an absolute path");
  }
  std::size_t start = 0;
  while (start <= name.size()) {
    std::size_t end = start;
    while (end < name.size() && !IsSeparator(name[end])) {
      ++end;
    }
    const std::u16string component = name.substr(start, end - start);
    // Only dots and spaces: "", ".", ".." and what the system trims to them.
    if (component.find_first_not_of(u". ") == std::u16string::npos) {
      return Refuse(reason, u"the entry name has an empty, \".\" or \"..\" component");
    }
    if (IsDeviceName(component)) {
      return Refuse(reason, u"the entry name is a reserved device name");
    }
    start = end + 1;
  }
  return true;
}

bool FindNameClash(const std::vector<std::u16string>& names, std::u16string* reason) {
  struct Key {
    std::u16string folder; // the folder part, folded
    std::u16string leaf;   // the last component, folded
  };
  std::vector<Key> keys;
  keys.reserve(names.size());
  for (const std::u16string& name : names) {
    Key key;
    const std::vector<std::u16string> parts = SplitComponents(name);
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
      key.folder += ComponentKey(parts[i]) + u'\\';
    }
    key.leaf = ComponentKey(parts.back());
    keys.push_back(std::move(key));
  }
  auto clash = [&](std::size_t a, std::size_t b, const char16_t* why) {
    if (reason) {
      *reason = u"the entries \"" + names[a] + u"\" and \"" + names[b] + u"\" " + why;
    }
    return true;
  };
  // Quadratic, but payloads hold tens to thousands of files, not millions.
  for (std::size_t a = 0; a < keys.size(); ++a) {
    std::u16string stem;
    std::u16string extension;
    const bool alias = SplitShortAlias(keys[a].leaf, stem, extension);
    for (std::size_t b = 0; b < keys.size(); ++b) {
      if (a == b || keys[a].folder != keys[b].folder) {
        continue;
      }
      if (b > a && keys[a].leaf == keys[b].leaf) {
        return clash(a, b, u"would be written to one file");
      }
      if (alias && keys[a].leaf != keys[b].leaf && CouldBeAliasOf(stem, extension, keys[b].leaf)) {
        return clash(a, b,
                     u"may name one file: the first is shaped like the short name of the second");
      }
    }
  }
  if (reason) {
    reason->clear();
  }
  return false;
}

} // namespace QorArchiveFormat
