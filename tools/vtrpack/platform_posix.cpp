// vtrpack's system interface on POSIX systems (Linux).
#include "platform.h"

#include "qor/payload_core/payload_core.h"

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <thread>

namespace VtrPlatform {

namespace {

std::string Native(const std::u16string& path) {
  return QorPayload::ToUtf8(path);
}

// A name as the system gave it: UTF-8, or refused.
std::u16string FromNative(const std::string& bytes, const std::u16string& folder) {
  std::u16string text;
  if (!QorPayload::FromUtf8(bytes, text)) {
    std::u16string shown;
    QorPayload::FromUtf8(bytes, shown);
    Fail(u"the folder " + folder + u" holds a file whose name is not UTF-8 (\"" + shown +
         u"...\"); archive names are Unicode");
  }
  return text;
}

// The temporary outputs that an interrupt removes (temporary, final path).
// The lock is held while one is created, moved into place or removed, so an
// interrupt never comes between a file and its entry here; the interrupt
// keeps it to the end. Never destroyed: the interrupt's thread may still
// use them while the program ends.
std::mutex& OutputsLock() {
  static std::mutex* lock = new std::mutex;
  return *lock;
}
std::vector<std::pair<std::string, std::string>>& Outputs() {
  static auto* outputs = new std::vector<std::pair<std::string, std::string>>;
  return *outputs;
}
std::atomic<bool> lineOpen(false);

void WriteError(const std::string& text) {
  const char* data = text.data();
  std::size_t left = text.size();
  while (left > 0) {
    const ssize_t n = write(STDERR_FILENO, data, left);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      return;
    }
    data += n;
    left -= static_cast<std::size_t>(n);
  }
}

// Runs on the thread that waits for the signals, never in a signal handler.
[[noreturn]] void Interrupted(int signal) {
  OutputsLock().lock();
  const char* name = signal == SIGINT ? "SIGINT" : signal == SIGTERM ? "SIGTERM" : "SIGHUP";
  std::string line = lineOpen ? "\n" : "";
  line += std::string("vtrpack: interrupted by ") + name;
  for (const auto& output : Outputs()) {
    const int error = unlink(output.first.c_str()) == 0 ? 0 : errno;
    if (error == 0 || error == ENOENT) {
      line += "; nothing was written to " + output.second;
    } else {
      line += "; cannot remove " + output.first + ": " + std::strerror(error);
    }
  }
  WriteError(line + "\n");
  // Ends as the signal would have, so that the shell and make see it.
  ::signal(signal, SIG_DFL);
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, signal);
  pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
  raise(signal);
  _exit(128 + signal);
}

// Under OutputsLock: the interrupt has nothing more to do for temporary.
void ForgetOutput(const std::string& temporary) {
  std::vector<std::pair<std::string, std::string>>& outputs = Outputs();
  for (auto it = outputs.begin(); it != outputs.end(); ++it) {
    if (it->first == temporary) {
      outputs.erase(it);
      return;
    }
  }
}

mode_t Umask() {
  static const mode_t mask = [] {
    const mode_t value = umask(0);
    umask(value);
    return value;
  }();
  return mask;
}

} // namespace

void Fail(const std::u16string& reason) {
  throw Failure{reason};
}

std::u16string SystemReason(const char16_t* what, const std::u16string& file) {
  const int error = errno;
  std::u16string description;
  QorPayload::FromUtf8(std::strerror(error), description);
  return ReasonLine(what + file, description, static_cast<unsigned long>(error));
}

std::vector<std::u16string> GetArguments(int argc, char** argv) {
  std::vector<std::u16string> args;
  for (int i = 0; i < argc; ++i) {
    std::u16string text;
    if (!QorPayload::FromUtf8(argv[i], text)) {
      Fail(u"argument " + QorPayload::ToDecimal(static_cast<unsigned>(i)) + u" is not valid UTF-8");
    }
    args.push_back(text);
  }
  return args;
}

bool IsTerminal(std::FILE* stream) {
  return isatty(fileno(stream)) != 0;
}

std::u16string JoinPath(const std::u16string& folder, const std::u16string& name) {
  if (!folder.empty() && folder.back() == u'/') {
    return folder + name;
  }
  return folder + u"/" + name;
}

std::filesystem::path FileSystemPath(const std::u16string& path) {
  return std::filesystem::path(Native(path));
}

void HandleInterrupts() {
  Umask(); // read now, while no other thread could create a file meanwhile
  OutputsLock();
  Outputs();
  // Blocked here, and so in every thread started later; one thread takes
  // them with sigwait, where it may lock and remove files as any code may.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  std::thread([signals] {
    int signal = 0;
    while (sigwait(&signals, &signal) != 0) {
    }
    Interrupted(signal);
  }).detach();
}

void SetLineOpen(bool open) {
  lineOpen = open;
}

void RandomBytes(unsigned char* bytes, std::size_t size) {
  std::size_t got = 0;
  while (got < size) {
    const ssize_t n = getrandom(bytes + got, size - got, 0);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      // Older kernels: the device instead.
      const int device = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
      if (device < 0 || read(device, bytes, size) != static_cast<ssize_t>(size)) {
        const int saved = errno;
        if (device >= 0) {
          close(device);
        }
        errno = saved;
        Fail(SystemReason(u"cannot make a temporary name"));
      }
      close(device);
      break;
    }
    got += static_cast<std::size_t>(n);
  }
}

std::vector<FolderItem> ListFolder(const std::u16string& folder, bool followLinks) {
  struct stat info;
  if (stat(Native(folder).c_str(), &info) != 0) {
    if (errno == ENOENT) {
      Fail(u"the folder " + folder + u" does not exist");
    }
    Fail(SystemReason(u"cannot open the folder ", folder));
  }
  if (!S_ISDIR(info.st_mode)) {
    Fail(folder + u" is not a folder; pack takes the folder that holds the product's files");
  }
  DIR* directory = opendir(Native(folder).c_str());
  if (!directory) {
    Fail(SystemReason(u"cannot list the folder ", folder));
  }
  std::unique_ptr<DIR, int (*)(DIR*)> owner(directory, closedir);
  std::vector<FolderItem> items;
  for (;;) {
    errno = 0;
    const dirent* entry = readdir(directory);
    if (!entry) {
      if (errno != 0) {
        Fail(SystemReason(u"cannot list the folder ", folder));
      }
      break;
    }
    const std::string name = entry->d_name;
    if (name == "." || name == "..") {
      continue;
    }
    FolderItem item{FromNative(name, folder), FolderItem::Other, 0};
    const std::u16string path = JoinPath(folder, item.name);
    if (lstat(Native(path).c_str(), &info) != 0) {
      Fail(SystemReason(u"cannot read ", path));
    }
    if (S_ISLNK(info.st_mode)) {
      item.kind = FolderItem::Link;
      if (followLinks && stat(Native(path).c_str(), &info) != 0) {
        Fail(SystemReason(u"cannot follow the link ", path));
      }
    }
    if (item.kind != FolderItem::Link || followLinks) {
      item.kind = S_ISDIR(info.st_mode)   ? FolderItem::Folder
                  : S_ISREG(info.st_mode) ? FolderItem::File
                                          : FolderItem::Other;
      item.size = item.kind == FolderItem::File ? static_cast<std::uint64_t>(info.st_size) : 0;
    }
    items.push_back(std::move(item));
  }
  return items;
}

bool LiesIn(const std::u16string& path, const std::u16string& folder) {
  const std::size_t slash = path.find_last_of(u'/');
  const std::u16string parent = slash == std::u16string::npos ? u"."
                                : slash == 0                  ? u"/"
                                                              : path.substr(0, slash);
  struct stat a, b;
  return stat(Native(parent).c_str(), &a) == 0 && stat(Native(folder).c_str(), &b) == 0 &&
         a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

struct InputFile::Impl {
  int fd = -1;
  std::u16string path;
  std::unique_ptr<char[]> copy;
  ~Impl() {
    if (fd >= 0) {
      close(fd);
    }
  }
};

InputFile::InputFile(const std::u16string& path, Kind kind) : impl_(new Impl) {
  impl_->path = path;
  // A file to pack is opened without waiting (a FIFO put in its place would
  // block for ever) and without following a link put there since the
  // listing; then it must turn out to be a regular file.
  const int flags = O_RDONLY | O_CLOEXEC | O_NONBLOCK | (kind == PackedFile ? O_NOFOLLOW : 0);
  impl_->fd = open(Native(path).c_str(), flags);
  if (impl_->fd < 0) {
    if (errno == ELOOP && kind == PackedFile) {
      Fail(u"cannot pack " + path +
           u": it is a symbolic link (pack follows links only with --follow-links)");
    }
    Fail(SystemReason(u"cannot open ", path));
  }
  struct stat info;
  if (fstat(impl_->fd, &info) != 0) {
    Fail(SystemReason(u"cannot read ", path));
  }
  if (!S_ISREG(info.st_mode)) {
    if (kind != Regular) {
      Fail(u"cannot pack " + path + u": it is not a regular file");
    }
    if (S_ISDIR(info.st_mode)) {
      errno = EISDIR;
      Fail(SystemReason(u"cannot read ", path));
    }
    Fail(u"cannot read " + path + u": it is not a regular file");
  }
}

InputFile::~InputFile() = default;

std::uint64_t InputFile::Size() {
  struct stat info;
  if (fstat(impl_->fd, &info) != 0) {
    Fail(SystemReason(u"cannot read ", impl_->path));
  }
  return static_cast<std::uint64_t>(info.st_size);
}

std::size_t InputFile::Read(char* buffer, std::size_t size) {
  for (;;) {
    const ssize_t n = read(impl_->fd, buffer, size);
    if (n >= 0) {
      return static_cast<std::size_t>(n);
    }
    if (errno != EINTR) {
      Fail(SystemReason(u"cannot read ", impl_->path));
    }
  }
}

const std::u16string& InputFile::Path() const {
  return impl_->path;
}

const char* InputFile::MapView(std::size_t size) {
  if (!impl_->copy) {
    std::unique_ptr<char[]> copy(new char[size]);
    std::size_t done = 0;
    while (done < size) {
      const ssize_t n = pread(impl_->fd, copy.get() + done, size - done, static_cast<off_t>(done));
      if (n < 0 && errno == EINTR) {
        continue;
      }
      if (n < 0) {
        Fail(SystemReason(u"cannot read ", impl_->path));
      }
      if (n == 0) {
        Fail(u"cannot read " + impl_->path + u": it was cut short while it was read");
      }
      done += static_cast<std::size_t>(n);
    }
    impl_->copy = std::move(copy);
  }
  return impl_->copy.get();
}

struct OutputFile::Impl {
  std::u16string path;
  std::u16string temporary;
  int fd = -1;
  bool committed = false;
};

OutputFile::OutputFile(const std::u16string& path) : impl_(new Impl) {
  impl_->path = path;
  struct stat info;
  if (stat(Native(path).c_str(), &info) == 0) {
    if (S_ISDIR(info.st_mode)) {
      Fail(u"the output " + path + u" is a folder; name the file to write");
    }
    if (!S_ISREG(info.st_mode)) {
      Fail(u"the output " + path + u" is not a regular file");
    }
  }
  std::lock_guard<std::mutex> lock(OutputsLock());
  impl_->temporary = CreateTemporaryBeside(path, [this](const std::u16string& temporary) {
    impl_->fd =
        open(Native(temporary).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (impl_->fd >= 0) {
      return CreateResult::Created;
    }
    return errno == EEXIST ? CreateResult::Exists : CreateResult::Failed;
  });
  Outputs().emplace_back(Native(impl_->temporary), Native(path));
}

OutputFile::~OutputFile() {
  if (impl_->fd >= 0) {
    close(impl_->fd);
  }
  if (impl_->temporary.empty()) {
    return;
  }
  std::lock_guard<std::mutex> lock(OutputsLock());
  if (!impl_->committed) {
    unlink(Native(impl_->temporary).c_str());
  }
  ForgetOutput(Native(impl_->temporary));
}

namespace {

// Writes all of size bytes with put (write or pwrite, given the bytes done so
// far), again after a signal; fails naming file.
template <class Put>
void WriteWhole(Put put, const char* data, std::size_t size, const std::u16string& file) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = put(data + done, size - done, done);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      if (n == 0) {
        errno = EIO; // took nothing, yet reported no error
      }
      Fail(SystemReason(u"cannot write ", file));
    }
    done += static_cast<std::size_t>(n);
  }
}

} // namespace

void OutputFile::Write(const char* data, std::size_t size) {
  const int fd = impl_->fd;
  WriteWhole([fd](const char* p, std::size_t n, std::size_t) { return write(fd, p, n); }, data,
             size, impl_->temporary);
}

void OutputFile::WriteAt(std::uint64_t offset, const char* data, std::size_t size) {
  const int fd = impl_->fd;
  WriteWhole(
      [fd, offset](const char* p, std::size_t n, std::size_t done) {
        return pwrite(fd, p, n, static_cast<off_t>(offset + done));
      },
      data, size, impl_->temporary);
}

void OutputFile::TakeModeOf(const std::u16string& path) {
  struct stat info;
  if (impl_->fd >= 0 && stat(Native(path).c_str(), &info) == 0 &&
      fchmod(impl_->fd, info.st_mode & 0777 & ~Umask()) != 0) {
    Fail(SystemReason(u"cannot set the permissions of ", impl_->temporary));
  }
}

void OutputFile::Close() {
  if (impl_->fd >= 0) {
    const int fd = impl_->fd;
    impl_->fd = -1;
    if (close(fd) != 0) {
      Fail(SystemReason(u"cannot write ", impl_->temporary));
    }
  }
}

void OutputFile::Commit() {
  Close();
  std::lock_guard<std::mutex> lock(OutputsLock());
  if (rename(Native(impl_->temporary).c_str(), Native(impl_->path).c_str()) != 0) {
    Fail(SystemReason(u"cannot write ", impl_->path));
  }
  impl_->committed = true;
  ForgetOutput(Native(impl_->temporary));
}

} // namespace VtrPlatform
