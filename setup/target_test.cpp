// The target folder as the setup makes it, fills it, starts the installer
// from it and cleans it: where an elevated run works, what reaches the
// files inside, when the worker stops, and what a folder above re-pointed
// mid-run can change.
#include "qor/setup/error_codes.h"
#include "qor/setup/launch.h"
#include "qor/setup/state.h"
#include "qor/setup/worker.h"

#include "installer_check.h"

#include "qor/payload/archive.h"
#include "qor/payload_core/archive_core.h"
#include "qor/payload/compressor.h"
#include "qor/fs/fs.h"
#include "qor/fs/private_folder.h"

#include "qor/test/bytes.h"
#include "qor/test/errors.h"
#include "qor/test/folders.h"
#include "qor/test/host_links.h"
#include "qor/test/security.h"
#include "qor/test/text.h"

#include <bzlib.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

using QorTest::Catch;
using QorTest::ErrorPtr;
using QorTest::RandomBytes;
using QorTest::WindowsPath;

using Entries = std::vector<std::pair<std::wstring, std::string>>;

std::string Narrow(const std::wstring& text) {
  return std::string(text.begin(), text.end());
}

std::string Compress(const Entries& entries) {
  ArchiveWriter writer;
  for (const auto& entry : entries) {
    writer.AddEntry(entry.first, entry.second);
  }
  std::istringstream input(writer.ToString());
  std::ostringstream output;
  QorCompressLib::Bzip2Compressor compressor(9, 30, 8192);
  compressor.Compress(input, output, nullptr, nullptr, 1);
  return output.str();
}

std::string FileBytes(const char* unixPath) {
  std::string bytes;
  EXPECT_TRUE(QorTest::ReadFileBytes(WindowsPath(unixPath), bytes)) << unixPath;
  return bytes;
}

// The installer of the sample payload and 16 files, which take a while to
// expand when they are random.
std::string RacePart(int index, bool random) {
  return random ? RandomBytes(128 << 10, index + 1) : std::string(128 << 10, 'a' + index);
}

const std::string& RacePayload(bool random) {
  static std::string payloads[2];
  std::string& payload = payloads[random ? 1 : 0];
  if (payload.empty()) {
    Entries entries = {{L"VTRInstaller.exe", FileBytes(VELTRANO_INSTALLER_EXE)}};
    for (int i = 0; i < 16; ++i) {
      entries.push_back({L"part" + std::to_wstring(i) + L".bin", RacePart(i, random)});
    }
    payload = Compress(entries);
  }
  return payload;
}

// A message-only window for the worker's notes and the installer's timer.
class NoteWindow {
public:
  NoteWindow()
      : window_(CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                GetModuleHandleW(nullptr), nullptr)) {}
  ~NoteWindow() {
    KillTimer(window_, QorSetup::kPollTimerId);
    DestroyWindow(window_);
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    }
  }
  HWND get() const { return window_; }

private:
  HWND window_;
};

// Every test starts with the shell as the program starts and leaves nothing
// of its own in it; the installers it starts report to its own folder.
class TargetTest : public ::testing::Test {
protected:
  void SetUp() override {
    QorSetup::ResetShell();
    SetEnvironmentVariableW(L"VELTRANO_INSTALLER_REPORT", report().c_str());
    SetEnvironmentVariableW(L"VELTRANO_DECOY_MARKER", marker().c_str());
  }
  void TearDown() override {
    QorSetup::WaitForInstaller();
    QorSetup::CleanUp();
    QorSetup::ResetShell();
    SetEnvironmentVariableW(L"VELTRANO_INSTALLER_REPORT", nullptr);
    SetEnvironmentVariableW(L"VELTRANO_DECOY_MARKER", nullptr);
  }
  QorSetup::SetupShell& shell() { return QorSetup::Shell(); }
  std::wstring report() const { return scratch_.path() + L"report.txt"; }
  std::wstring marker() const { return scratch_.path() + L"decoy-ran.txt"; }
  bool Exists(const std::wstring& path) const { return QorFs::Exists(path); }
  void Extract(const std::string& payload) {
    QorSetup::ExtractPayload(payload.data(), static_cast<std::uint32_t>(payload.size()),
                             window_.get());
  }

  QorTest::ScratchFolder scratch_;
  NoteWindow window_;
};

using ElevatedTarget = TargetTest;
using TargetFiles = TargetTest;
using InstallerStart = TargetTest;
using WorkerStop = TargetTest;

} // namespace

TEST_F(ElevatedTarget, ANewFolderForAdministratorsOnlyUnderTheSystemsTemporaryFolder) {
  const std::wstring systemTemp = QorSetup::SystemTemporaryFolder();
  ASSERT_TRUE(QorFs::IsDirectory(systemTemp));
  std::wstring previous;
  for (int run = 0; run < 2; ++run) {
    QorSetup::MakeAdminOnlyTargetFolder(systemTemp);
    const std::wstring folder = shell().target.path();
    const std::wstring prefix = systemTemp + L"QorVTInst-";
    EXPECT_EQ(prefix, folder.substr(0, prefix.size()));
    EXPECT_NE(previous, folder) << "a new folder each time";
    const std::wstring shown = QorTest::DescriptorText(folder);
    EXPECT_TRUE(QorTest::ShowsAdminOnly(shown)) << Narrow(shown);
    EXPECT_TRUE(QorTest::ListEntries(folder).empty());
    QorSetup::CleanUp();
    EXPECT_FALSE(Exists(folder));
    previous = folder;
  }
}

// Files are made new through the folder's handle: whatever another program
// put there first, under an entry's name, is neither overwritten nor
// followed, and the extraction fails.
TEST_F(TargetFiles, MadeNewOnlyAndTheInstallerIsKnownByItsFile) {
  const std::wstring folder = scratch_.path() + L"QorVTInst.tmp\\";
  const std::string payload = Compress({{L"VTRInstaller.exe", "installer"}, {L"a.txt", "a"}});
  QorSetup::MakeTargetFolder(folder);
  Extract(payload);
  std::string bytes;
  ASSERT_TRUE(QorTest::ReadFileBytes(folder + L"a.txt", bytes));
  EXPECT_EQ("a", bytes);
  Qor::UniqueFile installer(CreateFileW((folder + L"VTRInstaller.exe").c_str(),
                                        FILE_READ_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(installer.valid());
  EXPECT_EQ(QorFs::IdentityOf(installer.get()), shell().worker.installer);
  installer.reset();
  QorSetup::CleanUp();

  QorSetup::ResetShell();
  QorSetup::MakeTargetFolder(folder);
  ASSERT_TRUE(QorTest::WriteFileBytes(folder + L"a.txt", "planted"));
  ErrorPtr error = Catch([&] { Extract(payload); });
  ASSERT_TRUE(error);
  EXPECT_NE(std::wstring::npos, error->GetMessageText().find(L"ios_base::failbit set"));
  ASSERT_TRUE(QorTest::ReadFileBytes(folder + L"a.txt", bytes));
  EXPECT_EQ("planted", bytes);
}

// Started under the very name the payload gave it, in whatever letter case.
TEST_F(InstallerStart, FromTheFolderWithItsBareNameAsItsCommandLine) {
  int round = 0;
  for (const wchar_t* name : {L"VTRInstaller.exe", L"vtrinstaller.EXE"}) {
    SCOPED_TRACE(Narrow(name));
    QorSetup::ResetShell();
    DeleteFileW(report().c_str());
    const std::wstring folder = scratch_.path() + std::to_wstring(++round) + L"\\";
    QorSetup::MakeTargetFolder(folder);
    Extract(Compress({{name, FileBytes(VELTRANO_INSTALLER_EXE)}}));
    QorSetup::StartInstaller(window_.get());
    ASSERT_TRUE(shell().installer.process);
    QorSetup::WaitForInstaller();
    std::string text;
    ASSERT_TRUE(QorTest::ReadFileBytes(report(), text));
    EXPECT_NE(std::string::npos, text.find("cwd=" + Narrow(folder.substr(0, folder.size() - 1))))
        << text;
    EXPECT_NE(std::string::npos, text.find("cmdline=" + Narrow(name) + "\n")) << text;
    QorSetup::CleanUp();
  }
}

// Only the file the worker made is started: not one put in its place, not
// one the payload did not carry. Nothing of the other program runs.
TEST_F(InstallerStart, OnlyTheFileTheWorkerMade) {
  const std::string decoy = FileBytes(VELTRANO_DECOY_EXE);
  struct Case {
    const char* name;
    bool carried;  // the payload carries an installer
    bool replaced; // another program puts its own in the folder
    int code;
  } cases[] = {
      {"replaced after the extraction", true, true, QorSetup::kFolderChangedError},
      {"put there, none carried", false, true, QorSetup::kFolderChangedError},
      {"none at all", false, false, QorSetup::kStartInstallerError},
  };
  int round = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    QorSetup::ResetShell();
    const std::wstring folder = scratch_.path() + std::to_wstring(++round) + L"\\";
    QorSetup::MakeTargetFolder(folder);
    Entries entries = {{L"a.txt", "a"}};
    if (c.carried) {
      entries.push_back({L"VTRInstaller.exe", FileBytes(VELTRANO_INSTALLER_EXE)});
    }
    Extract(Compress(entries));
    if (c.replaced) {
      // Moved, not deleted: a file made anew may get a deleted one's index
      // where indexes are reused at once (Wine's Unix file systems; NTFS
      // adds a sequence number).
      MoveFileW((folder + L"VTRInstaller.exe").c_str(), (folder + L"moved.exe").c_str());
      ASSERT_TRUE(QorTest::WriteFileBytes(folder + L"VTRInstaller.exe", decoy));
    }
    ErrorPtr error = Catch([&] { QorSetup::StartInstaller(window_.get()); });
    ASSERT_TRUE(error);
    EXPECT_EQ(c.code, error->GetCode());
    EXPECT_FALSE(shell().installer.process);
    Sleep(200);
    EXPECT_FALSE(Exists(marker()));
    QorSetup::CleanUp();
  }
}

// Another program writes over the installer in place, between the worker's
// close and the start: the file keeps its identity, not its bytes.
TEST_F(InstallerStart, NotWhenItsBytesWereRewrittenInPlace) {
  const std::string installer = FileBytes(VELTRANO_INSTALLER_EXE);
  const std::string decoy = FileBytes(VELTRANO_DECOY_EXE);
  std::string flipped = installer;
  flipped.back() = static_cast<char>(flipped.back() ^ 1);
  const std::string cut = installer.substr(0, installer.size() / 2);
  struct Case {
    const char* name;
    const std::string* bytes;
  } cases[] = {{"the other program written over it", &decoy},
               {"one byte changed", &flipped},
               {"cut short", &cut}};
  int round = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    QorSetup::ResetShell();
    const std::wstring folder = scratch_.path() + std::to_wstring(++round) + L"\\";
    QorSetup::MakeTargetFolder(folder);
    Extract(Compress({{L"VTRInstaller.exe", installer}}));
    const QorFs::FileIdentity before = shell().worker.installer;
    {
      Qor::UniqueFile file(CreateFileW((folder + L"VTRInstaller.exe").c_str(), GENERIC_WRITE, 0,
                                       nullptr, OPEN_EXISTING, 0, nullptr));
      ASSERT_TRUE(file.valid());
      DWORD written = 0;
      ASSERT_TRUE(WriteFile(file.get(), c.bytes->data(), static_cast<DWORD>(c.bytes->size()),
                            &written, nullptr));
      ASSERT_TRUE(SetEndOfFile(file.get()));
      EXPECT_EQ(before, QorFs::IdentityOf(file.get())) << "the same file";
    }
    ErrorPtr error = Catch([&] { QorSetup::StartInstaller(window_.get()); });
    ASSERT_TRUE(error);
    EXPECT_EQ(QorSetup::kFolderChangedError, error->GetCode());
    EXPECT_NE(std::wstring::npos,
              error->GetMessageText().find(L"changed by another program after it was extracted"));
    EXPECT_FALSE(shell().installer.process);
    Sleep(200);
    EXPECT_FALSE(Exists(marker()));
    QorSetup::CleanUp();
  }

  // Once checked, the file is held: nobody writes to it until it has started.
  QorSetup::ResetShell();
  QorSetup::MakeTargetFolder(scratch_.path() + L"held\\");
  Extract(Compress({{L"VTRInstaller.exe", installer}}));
  DWORD writeError = ERROR_SUCCESS;
  shell().startHook = [&](QorSetup::StartStep step) {
    if (step == QorSetup::StartStep::BeforeCreate) {
      Qor::UniqueFile file(CreateFileW((shell().target.path() + L"VTRInstaller.exe").c_str(),
                                       GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                       OPEN_EXISTING, 0, nullptr));
      writeError = file ? ERROR_SUCCESS : GetLastError();
    }
  };
  QorSetup::StartInstaller(window_.get());
  EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), writeError);
  ASSERT_TRUE(shell().installer.process);
  QorSetup::WaitForInstaller();
  EXPECT_TRUE(Exists(report()));
}

// The process the system made from the path runs the file held, or it is
// ended before any of it runs.
TEST_F(InstallerStart, AProcessOfAnotherFileIsEndedBeforeItRuns) {
  const std::wstring folder = scratch_.path() + L"QorVTInst.tmp\\";
  QorSetup::MakeTargetFolder(folder);
  Extract(Compress({{L"VTRInstaller.exe", FileBytes(VELTRANO_INSTALLER_EXE)}}));
  const std::wstring decoy = scratch_.path() + L"decoy.exe";
  ASSERT_TRUE(QorTest::WriteFileBytes(decoy, FileBytes(VELTRANO_DECOY_EXE)));
  Qor::UniqueFile held = shell().target.OpenToRun(L"VTRInstaller.exe");
  ASSERT_TRUE(held.valid());
  auto startSuspended = [&](const std::wstring& program) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION created = {};
    std::wstring commandLine = L"program.exe";
    EXPECT_TRUE(CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE,
                               CREATE_SUSPENDED, nullptr, nullptr, &startup, &created));
    CloseHandle(created.hThread);
    return Qor::UniqueHandle(created.hProcess);
  };

  Qor::UniqueHandle other = startSuspended(decoy);
  ASSERT_TRUE(other.valid());
  ErrorPtr error = Catch([&] { QorSetup::CheckStartedImage(other.get(), held.get()); });
  ASSERT_TRUE(error);
  EXPECT_EQ(QorSetup::kFolderChangedError, error->GetCode());
  EXPECT_NE(std::wstring::npos,
            error->GetMessageText().find(L"is not the installation program that the setup"));
  EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(other.get(), 0))
      << "ended, and waited for";
  Sleep(200);
  EXPECT_FALSE(Exists(marker()));

  Qor::UniqueHandle own = startSuspended(folder + L"VTRInstaller.exe");
  ASSERT_TRUE(own.valid());
  EXPECT_FALSE(Catch([&] { QorSetup::CheckStartedImage(own.get(), held.get()); }));
  EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(own.get(), 0));
  TerminateProcess(own.get(), 1);
  WaitForSingleObject(own.get(), INFINITE);
}

// What the system tells of the new process decides; where it tells nothing
// (Windows 2000, which Wine is not) the checks of the path stand alone.
TEST(StartedImage, StartedOnlyWhenTheSystemShowsTheFileHeld) {
  using QorFs::FileIdentity;
  using QorFs::ImageIdentity;
  using QorSetup::ImageVerdict;
  auto identity = [](ULONGLONG index, FileIdentity::Form form = FileIdentity::Form::FileId128) {
    FileIdentity made;
    made.form = form;
    made.volumeSerial = 7;
    made.index = index;
    made.valid = true;
    return made;
  };
  const FileIdentity none;
  struct Case {
    const char* name;
    ImageIdentity told;
    FileIdentity image, held;
    ImageVerdict verdict;
  } cases[] = {
      {"the file held", ImageIdentity::Read, identity(1), identity(1), ImageVerdict::Resume},
      {"another file", ImageIdentity::Read, identity(2), identity(1), ImageVerdict::End},
      {"the same index in another form", ImageIdentity::Read,
       identity(1, FileIdentity::Form::FileIndex), identity(1), ImageVerdict::End},
      {"the held file's identity unknown", ImageIdentity::Read, identity(1), none,
       ImageVerdict::End},
      {"the image's file cannot be opened", ImageIdentity::Unknown, none, identity(1),
       ImageVerdict::End},
      {"no call for it (Windows 2000)", ImageIdentity::NotOffered, none, identity(1),
       ImageVerdict::PathChecksOnly},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.verdict, QorSetup::JudgeStartedImage(c.told, c.image, c.held));
  }
}

namespace {

// A payload of one 600 MB file of zeros and the installer behind it: a few
// hundred bytes of it hold the zeros, so the compressed input hardly moves
// while they are written.
const std::string& ZerosPayload() {
  static const std::string payload = [] {
    const std::string installer = FileBytes(VELTRANO_INSTALLER_EXE);
    const std::uint64_t zeros = 600ull << 20;
    std::string compressed = QorArchiveFormat::BuildHeader({u"zeros.bin", u"VTRInstaller.exe"},
                                                           {zeros, installer.size()});
    bz_stream stream = {};
    BZ2_bzCompressInit(&stream, 9, 0, 30);
    std::string out(1 << 20, '\0');
    std::string result;
    auto feed = [&](const std::string& data, std::size_t size, int action) {
      stream.next_in = const_cast<char*>(data.data());
      stream.avail_in = static_cast<unsigned>(size);
      for (;;) {
        stream.next_out = &out[0];
        stream.avail_out = static_cast<unsigned>(out.size());
        const int status = BZ2_bzCompress(&stream, action);
        result.append(out.data(), out.size() - stream.avail_out);
        if (action == BZ_RUN ? stream.avail_in == 0 : status == BZ_STREAM_END) {
          return;
        }
      }
    };
    feed(compressed, compressed.size(), BZ_RUN);
    const std::string block(4 << 20, '\0');
    for (std::uint64_t done = 0; done < zeros; done += block.size()) {
      feed(block, block.size(), BZ_RUN);
    }
    feed(installer, installer.size(), BZ_FINISH);
    BZ2_bzCompressEnd(&stream);
    return result;
  }();
  return payload;
}

// The size of a file being written, from the file itself (a folder's
// listing may lag behind).
std::uint64_t WrittenSoFar(const std::wstring& path) {
  Qor::UniqueFile file(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, 0, nullptr));
  LARGE_INTEGER size = {};
  return file && GetFileSizeEx(file.get(), &size) ? static_cast<std::uint64_t>(size.QuadPart) : 0;
}

struct WorkerRun {
  const std::string* payload;
  HWND window;
  ErrorPtr error;
};

DWORD WINAPI RunWorker(LPVOID parameter) {
  WorkerRun& run = *static_cast<WorkerRun*>(parameter);
  run.error = Catch([&] {
    QorSetup::ExtractPayload(run.payload->data(), static_cast<std::uint32_t>(run.payload->size()),
                             run.window);
  });
  return 0;
}

} // namespace

// Asked to stop, the worker ends soon: before its first file, and in the
// middle of a large one, where the compressed input gives no occasion.
TEST_F(WorkerStop, BetweenFilesAndInsideALargeOne) {
  struct Case {
    const char* name;
    std::uint64_t writtenFirst; // bytes of zeros.bin before the request
  } cases[] = {{"before the first file", 0}, {"inside a 600 MB file of zeros", 8u << 20}};
  int round = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    QorSetup::ResetShell();
    const std::wstring folder = scratch_.path() + std::to_wstring(++round) + L"\\";
    QorSetup::MakeTargetFolder(folder);
    shell().worker.stopRequested = c.writtenFirst == 0;
    WorkerRun run = {&ZerosPayload(), window_.get(), nullptr};
    Qor::UniqueHandle thread(CreateThread(nullptr, 0, RunWorker, &run, 0, nullptr));
    ASSERT_TRUE(thread.valid());
    for (int waited = 0; c.writtenFirst && waited < 60000; waited += 5) {
      if (WrittenSoFar(folder + L"zeros.bin") >= c.writtenFirst) {
        break;
      }
      Sleep(5);
    }
    shell().worker.stopRequested = true;
    WaitForSingleObject(thread.get(), INFINITE);
    ASSERT_TRUE(run.error);
    EXPECT_EQ(QorSetup::kStopRequestedError, run.error->GetCode());
    // Stopped inside the file, not after writing it whole: a bound on the
    // bytes, not on the time, so that a loaded machine cannot fail it.
    EXPECT_LT(WrittenSoFar(folder + L"zeros.bin"), 600ull << 20);
    if (c.writtenFirst == 0) {
      EXPECT_TRUE(QorTest::ListEntries(folder).empty()) << "no file was begun";
    }
    QorSetup::CleanUp();
    EXPECT_FALSE(Exists(folder));
  }
}

namespace {

// The user's temporary folder lies below "above", which leads to "real" and
// is re-pointed to "decoy", where another program laid out what it hopes
// the setup reaches: files of the payload's names, and a program of its own
// as the installer. Run through tests/support/host_links.sh.
class RepointedMidRun : public TargetTest {
protected:
  void SetUp() override {
    if (!links_.available()) {
      GTEST_SKIP() << "needs the link helper: run through tests/support/host_links.sh";
    }
    TargetTest::SetUp();
  }

  // A fresh layout, the target folder made in it through "above".
  void NewRound() {
    QorSetup::WaitForInstaller();
    QorSetup::CleanUp();
    QorSetup::ResetShell();
    root_ = links_.folder() + L"round" + std::to_wstring(++round_) + L"\\";
    const std::wstring decoy = root_ + L"decoy\\temp\\QorVTInst.tmp\\";
    QorFs::CreateDirectories(root_ + L"real\\temp\\");
    QorFs::CreateDirectories(decoy);
    ASSERT_TRUE(
        QorTest::WriteFileBytes(decoy + L"VTRInstaller.exe", FileBytes(VELTRANO_DECOY_EXE)));
    for (int i = 0; i < 16; ++i) {
      ASSERT_TRUE(QorTest::WriteFileBytes(decoy + L"part" + std::to_wstring(i) + L".bin", "kept"));
    }
    decoyBefore_ = Snapshot(root_ + L"decoy\\");
    ASSERT_TRUE(links_.MakeLink(root_ + L"above", root_ + L"real"));
    QorSetup::MakeTargetFolder(target());
    ASSERT_TRUE(shell().target.valid());
  }
  std::wstring target() const { return root_ + L"above\\temp\\QorVTInst.tmp\\"; }
  std::wstring realFolder() const { return root_ + L"real\\temp\\QorVTInst.tmp\\"; }

  // Re-points "above" a few milliseconds from now, while the caller goes on.
  std::wstring RepointSoon() { return links_.Request(root_ + L"above", root_ + L"decoy"); }
  bool RepointNow() { return links_.MakeLink(root_ + L"above", root_ + L"decoy"); }

  // Every file below folder with its bytes, in order of names.
  static std::vector<std::pair<std::wstring, std::string>> Snapshot(const std::wstring& folder) {
    std::vector<std::pair<std::wstring, std::string>> files;
    std::vector<std::wstring> names = QorTest::ListEntries(folder);
    std::sort(names.begin(), names.end());
    for (const std::wstring& name : names) {
      const std::wstring path = folder + name;
      if (GetFileAttributesW(path.c_str()) & FILE_ATTRIBUTE_DIRECTORY) {
        for (auto& inside : Snapshot(path + L"\\")) {
          files.push_back({name + L"\\" + inside.first, std::move(inside.second)});
        }
      } else {
        std::string bytes;
        QorTest::ReadFileBytes(path, bytes);
        files.push_back({name, std::move(bytes)});
      }
    }
    return files;
  }
  void ExpectDecoyUntouched() {
    EXPECT_TRUE(decoyBefore_ == Snapshot(root_ + L"decoy\\")) << "the other folder was changed";
    EXPECT_FALSE(Exists(marker())) << "the other program ran";
  }
  void ExpectPayloadIn(const std::wstring& folder, bool random) {
    std::vector<std::wstring> names = QorTest::ListEntries(folder);
    EXPECT_EQ(17u, names.size());
    std::string bytes;
    EXPECT_TRUE(QorTest::ReadFileBytes(folder + L"part3.bin", bytes) &&
                bytes == RacePart(3, random));
  }
  // Up to 30 ms: the re-pointing lands anywhere in what follows.
  static void Jitter(int round) { Sleep((round * 7919) % 31); }

  QorTest::HostLinks links_;
  std::wstring root_;
  std::vector<std::pair<std::wstring, std::string>> decoyBefore_;
  static int round_;
};

int RepointedMidRun::round_ = 0;
constexpr int kRounds = 8;

} // namespace

// Re-pointed once the folder is made: everything still happens where the
// folder is, and the start, which goes by path, does not happen.
TEST_F(RepointedMidRun, AfterTheFolderIsMadeNothingReachesTheOtherFolder) {
  ASSERT_NO_FATAL_FAILURE(NewRound());
  ASSERT_TRUE(RepointNow());
  Extract(RacePayload(false));
  ExpectPayloadIn(realFolder(), false);
  ErrorPtr error = Catch([&] { QorSetup::StartInstaller(window_.get()); });
  ASSERT_TRUE(error);
  EXPECT_EQ(QorSetup::kFolderChangedError, error->GetCode());
  EXPECT_FALSE(shell().installer.process);
  QorSetup::CleanUp();
  EXPECT_TRUE(QorTest::ListEntries(root_ + L"real\\temp\\").empty());
  Sleep(200);
  ExpectDecoyUntouched();
}

TEST_F(RepointedMidRun, DuringTheExtraction) {
  for (int round = 0; round < kRounds; ++round) {
    SCOPED_TRACE(round);
    ASSERT_NO_FATAL_FAILURE(NewRound());
    const std::wstring request = RepointSoon();
    Jitter(round);
    // Random bytes: the re-pointing lands while the files are written.
    Extract(RacePayload(true));
    ASSERT_TRUE(links_.Wait(request));
    ExpectPayloadIn(realFolder(), true);
    QorSetup::CleanUp();
    EXPECT_TRUE(QorTest::ListEntries(root_ + L"real\\temp\\").empty());
    ExpectDecoyUntouched();
  }
}

// Between the checks of the path and the start, and while the system reads
// the path: either the installer made for this run starts, or nothing does.
TEST_F(RepointedMidRun, BetweenTheChecksAndTheStart) {
  int started = 0;
  for (int round = 0; round < kRounds; ++round) {
    SCOPED_TRACE(round);
    ASSERT_NO_FATAL_FAILURE(NewRound());
    DeleteFileW(report().c_str());
    Extract(RacePayload(false));
    const std::wstring request = RepointSoon();
    Jitter(round);
    ErrorPtr error = Catch([&] { QorSetup::StartInstaller(window_.get()); });
    ASSERT_TRUE(links_.Wait(request));
    if (error) {
      EXPECT_EQ(QorSetup::kFolderChangedError, error->GetCode());
      EXPECT_FALSE(shell().installer.process);
    } else {
      ++started;
      QorSetup::WaitForInstaller();
      EXPECT_TRUE(Exists(report())) << "the installer made for this run";
    }
    QorSetup::CleanUp();
    Sleep(100);
    ExpectDecoyUntouched();
  }
  std::cout << "started " << started << " of " << kRounds << "\n";
}

TEST_F(RepointedMidRun, DuringTheCleanUp) {
  for (int round = 0; round < kRounds; ++round) {
    SCOPED_TRACE(round);
    ASSERT_NO_FATAL_FAILURE(NewRound());
    Extract(RacePayload(false));
    // More files, so that the clean-up takes a while.
    for (int i = 0; i < 60; ++i) {
      Qor::UniqueFile more = shell().target.CreateNewFile(L"more" + std::to_wstring(i) + L".txt");
      ASSERT_TRUE(more.valid());
    }
    const std::wstring request = RepointSoon();
    Jitter(round);
    QorSetup::CleanUp();
    ASSERT_TRUE(links_.Wait(request));
    EXPECT_TRUE(QorTest::ListEntries(root_ + L"real\\temp\\").empty());
    ExpectDecoyUntouched();
  }
}
