#include "qor/setup/command_line.h"

#include <windows.h>

#include <cwctype>

namespace QorSetup {

const wchar_t kUsageText[] =
    L"VeltranoSetup.exe [/quiet | /passive] [/log FILE] [/extract FOLDER] [/?] [--] "
    L"[installer arguments]\n"
    L"\n"
    L"/quiet, /q\tno window and no message; the exit code and the log tell the outcome\n"
    L"/passive\tthe progress window only, no message\n"
    L"/log FILE, /l FILE\twrite a log (UTF-8) to FILE\n"
    L"/extract FOLDER\textract the files into FOLDER and stop; nothing is started\n"
    L"/?, /help\tshow this text\n"
    L"--\tthe rest goes to the installer as it stands\n"
    L"\n"
    L"The first argument that is none of these starts the installer's arguments.";

namespace {

bool IsBlank(wchar_t c) {
  return c == L' ' || c == L'\t';
}

std::size_t SkipBlanks(const std::wstring& text, std::size_t at) {
  while (at < text.size() && IsBlank(text[at])) {
    ++at;
  }
  return at;
}

// Where the arguments begin: after the program's name, which the system
// reads up to the closing quote when it starts with one, else up to the
// first blank.
std::size_t SkipProgramName(const std::wstring& raw) {
  std::size_t at = 0;
  if (!raw.empty() && raw[0] == L'"') {
    at = raw.find(L'"', 1);
    at = at == std::wstring::npos ? raw.size() : at + 1;
  }
  while (at < raw.size() && !IsBlank(raw[at])) {
    ++at;
  }
  return SkipBlanks(raw, at);
}

// One argument from at, as the C runtime splits a command line (quotes
// group blanks; backslashes escape a quote only); at moves past it.
std::wstring ReadArgument(const std::wstring& raw, std::size_t& at) {
  std::wstring argument;
  bool quoted = false;
  while (at < raw.size() && (quoted || !IsBlank(raw[at]))) {
    std::size_t backslashes = 0;
    while (at < raw.size() && raw[at] == L'\\') {
      ++backslashes;
      ++at;
    }
    if (at < raw.size() && raw[at] == L'"') {
      argument.append(backslashes / 2, L'\\');
      if (backslashes % 2 == 1) {
        argument += L'"';
      } else if (quoted && at + 1 < raw.size() && raw[at + 1] == L'"') {
        argument += L'"'; // "" inside quotes: one quote
        ++at;
      } else {
        quoted = !quoted;
      }
      ++at;
      continue;
    }
    argument.append(backslashes, L'\\');
    if (at < raw.size() && (quoted || !IsBlank(raw[at]))) {
      argument += raw[at++];
    }
  }
  return argument;
}

enum class Switch { None, Separator, Quiet, Passive, Log, Extract, Help };

Switch Classify(const std::wstring& argument) {
  if (argument == L"--") {
    return Switch::Separator;
  }
  if (argument.size() < 2 || (argument[0] != L'/' && argument[0] != L'-')) {
    return Switch::None;
  }
  std::wstring name;
  for (std::size_t i = 1; i < argument.size(); ++i) {
    name += static_cast<wchar_t>(std::towlower(argument[i]));
  }
  struct Known {
    const wchar_t* name;
    Switch kind;
  } known[] = {{L"quiet", Switch::Quiet}, {L"q", Switch::Quiet},  {L"passive", Switch::Passive},
               {L"log", Switch::Log},     {L"l", Switch::Log},    {L"extract", Switch::Extract},
               {L"?", Switch::Help},      {L"help", Switch::Help}};
  for (const Known& k : known) {
    if (name == k.name) {
      return k.kind;
    }
  }
  return Switch::None;
}

} // namespace

CommandLine ParseCommandLine(const std::wstring& raw) {
  CommandLine result;
  bool quiet = false, passive = false;
  std::size_t at = SkipProgramName(raw);
  while (at < raw.size() && result.fault.empty()) {
    const std::size_t start = at;
    const std::wstring argument = ReadArgument(raw, at);
    const Switch kind = Classify(argument);
    if (kind == Switch::None) {
      result.installerArguments = raw.substr(start);
      break;
    }
    at = SkipBlanks(raw, at);
    switch (kind) {
    case Switch::Separator:
      result.installerArguments = raw.substr(at);
      at = raw.size();
      break;
    case Switch::Quiet:
      quiet = true;
      break;
    case Switch::Passive:
      passive = true;
      break;
    case Switch::Help:
      result.help = true;
      break;
    case Switch::Log:
    case Switch::Extract: {
      std::wstring& value = kind == Switch::Log ? result.logFile : result.extractFolder;
      const wchar_t* what = kind == Switch::Log ? L"a file name" : L"a folder";
      if (!value.empty()) {
        result.fault = argument + L" is given twice.";
      } else if (at == raw.size()) {
        result.fault = argument + L" needs " + what + L".";
      } else {
        value = ReadArgument(raw, at);
        at = SkipBlanks(raw, at);
        if (value.empty() || Classify(value) != Switch::None) {
          result.fault = argument + L" needs " + what + L", not \"" + value + L"\".";
          value.clear();
        }
      }
      break;
    }
    case Switch::None:
      break;
    }
  }
  if (quiet && passive && result.fault.empty()) {
    result.fault = L"/quiet and /passive cannot be given together.";
  }
  // Even a bad command line is as quiet as it asked to be (the quieter of
  // the two when both were given): a box would wait for nobody.
  result.mode = quiet ? RunMode::Quiet : passive ? RunMode::Passive : RunMode::Normal;
  if (!result.fault.empty()) {
    result.help = false;
    result.installerArguments.clear();
  }
  return result;
}

Desktop DesktopFromFlags(bool known, unsigned long flags) {
  if (!known) {
    return Desktop::Unknown;
  }
  return (flags & WSF_VISIBLE) ? Desktop::Visible : Desktop::Invisible;
}

Desktop ReadDesktop() {
  USEROBJECTFLAGS flags = {};
  DWORD needed = 0;
  HWINSTA station = ::GetProcessWindowStation();
  const bool known =
      station && ::GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, &needed);
  return DesktopFromFlags(known, flags.dwFlags);
}

RunMode EffectiveMode(RunMode asked, Desktop desktop) {
  return desktop == Desktop::Visible ? asked : RunMode::Quiet;
}

std::wstring InstallerCommandLine(const wchar_t* installerName, RunMode mode,
                                  const std::wstring& unattendedArguments,
                                  const std::wstring& callerArguments) {
  std::wstring commandLine = installerName;
  if (mode != RunMode::Normal && !unattendedArguments.empty()) {
    commandLine += L' ';
    commandLine += unattendedArguments;
  }
  if (!callerArguments.empty()) {
    commandLine += L' ';
    commandLine += callerArguments;
  }
  return commandLine;
}

} // namespace QorSetup
