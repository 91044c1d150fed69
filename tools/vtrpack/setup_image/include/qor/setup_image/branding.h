// What a packager may give a setup of its own when stamping it: the window
// title, the icon and the version information. What is left empty keeps the
// launcher's own, so that a setup stamped without branding is the same as
// ever, byte for byte. The setters check what they are given and throw
// QorPe::StampError with a one-line reason.
#pragma once

#include "qor/setup_image/stamp_error.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace QorPe {

// The launcher loads its title into a buffer of 100 units, the last one the terminator.
const std::size_t kTitleLimit = 99;

// One image of an icon file, as its directory describes it.
struct IconImage {
  std::uint8_t width = 0, height = 0, colorCount = 0; // 0 is 256 for width and height
  std::uint16_t planes = 0, bitCount = 0;
  std::vector<unsigned char> data; // a PNG image, or a bitmap with its mask
};

struct VersionString {
  std::u16string key, value;
};

struct Branding {
  std::u16string title;               // string 103
  std::u16string unattendedArguments; // string 110: the installer's arguments in quiet runs
  std::vector<IconImage> icon;        // icon group 108 and its images
  std::vector<VersionString> version; // in a fixed order of their keys
};

// The most bytes an icon file may have: with its images apart from each
// other, also the most they take in all.
const std::size_t kIconFileLimit = 16u << 20;

void SetTitle(Branding& branding, const std::u16string& title);
// The installer's arguments for quiet and passive runs, 1 to kArgumentsLimit characters.
void SetUnattendedArguments(Branding& branding, const std::u16string& arguments);
const std::size_t kArgumentsLimit = 1024;

// What list and check show of a stamped setup: where its payload lies in
// its bytes and the unattended arguments it carries. launcher is false for
// bytes that are no setup launcher (nothing else is then set); throws
// StampError for a launcher without a payload.
struct SetupContents {
  bool launcher = false;
  std::uint64_t payloadOffset = 0;
  std::uint64_t payloadSize = 0;
  std::u16string unattendedArguments;
};
SetupContents ReadSetupContents(const unsigned char* data, std::size_t size,
                                const std::string& shown);
// "KEY=VALUE", KEY one of CompanyName, FileDescription, FileVersion,
// LegalCopyright, ProductName and ProductVersion (in any case), each at most once.
void AddVersionString(Branding& branding, const std::u16string& keyValue);

// The images of the .ico file `file` (its bytes, at most kIconFileLimit),
// checked; `shown` names it in messages (UTF-8).
std::vector<IconImage> ReadIconFile(const std::vector<unsigned char>& file,
                                    const std::string& shown);

} // namespace QorPe
