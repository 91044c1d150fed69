// vtrpack's system interface on POSIX systems (Linux).
#include "platform.h"

#include "qor/payload/payload_core.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
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

} // namespace

void Fail(const std::u16string& reason) {
  throw Failure{reason};
}

std::u16string SystemReason(const std::u16string& what) {
  std::u16string description;
  QorPayload::FromUtf8(std::strerror(errno), description);
  return what + u": " + description;
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

unsigned CountProcessors() {
  const unsigned count = std::thread::hardware_concurrency();
  return count ? count : 1;
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

std::vector<FolderItem> ListFolder(const std::u16string& folder) {
  struct stat info;
  if (stat(Native(folder).c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
    Fail(u"the folder " + folder + u" does not exist");
  }
  DIR* directory = opendir(Native(folder).c_str());
  if (!directory) {
    Fail(SystemReason(u"cannot list the folder " + folder));
  }
  std::unique_ptr<DIR, int (*)(DIR*)> owner(directory, closedir);
  std::vector<FolderItem> items;
  for (;;) {
    errno = 0;
    const dirent* entry = readdir(directory);
    if (!entry) {
      if (errno != 0) {
        Fail(SystemReason(u"cannot list the folder " + folder));
      }
      break;
    }
    const std::string name = entry->d_name;
    if (name == "." || name == "..") {
      continue;
    }
    FolderItem item{FromNative(name, folder), false, 0};
    const std::u16string path = JoinPath(folder, item.name);
    // Links are followed: what counts is the file that would be read.
    if (stat(Native(path).c_str(), &info) != 0) {
      Fail(SystemReason(u"cannot read " + path));
    }
    if (S_ISDIR(info.st_mode)) {
      item.isFolder = true;
    } else if (!S_ISREG(info.st_mode)) {
      Fail(u"cannot pack " + path + u": it is not a regular file");
    } else {
      item.size = static_cast<std::uint64_t>(info.st_size);
    }
    items.push_back(std::move(item));
  }
  return items;
}

struct InputFile::Impl {
  int fd = -1;
  std::u16string path;
  ~Impl() {
    if (fd >= 0) {
      close(fd);
    }
  }
};

InputFile::InputFile(const std::u16string& path) : impl_(new Impl) {
  impl_->path = path;
  impl_->fd = open(Native(path).c_str(), O_RDONLY | O_CLOEXEC);
  if (impl_->fd < 0) {
    Fail(SystemReason(u"cannot open " + path));
  }
}

InputFile::~InputFile() = default;

std::uint64_t InputFile::Size() {
  struct stat info;
  if (fstat(impl_->fd, &info) != 0) {
    Fail(SystemReason(u"cannot read " + impl_->path));
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
      Fail(SystemReason(u"cannot read " + impl_->path));
    }
  }
}

struct OutputFile::Impl {
  std::u16string path;
  std::u16string temporary;
  int fd = -1;
  bool committed = false;
};

OutputFile::OutputFile(const std::u16string& path) : impl_(new Impl) {
  impl_->path = path;
  impl_->temporary = CreateTemporaryBeside(path, [this](const std::u16string& temporary) {
    impl_->fd =
        open(Native(temporary).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (impl_->fd >= 0) {
      return CreateResult::Created;
    }
    return errno == EEXIST ? CreateResult::Exists : CreateResult::Failed;
  });
}

OutputFile::~OutputFile() {
  if (impl_->fd >= 0) {
    close(impl_->fd);
  }
  if (!impl_->committed && !impl_->temporary.empty()) {
    unlink(Native(impl_->temporary).c_str());
  }
}

const std::u16string& OutputFile::temporary() const {
  return impl_->temporary;
}

void OutputFile::Write(const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = write(impl_->fd, data, size);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      Fail(SystemReason(u"cannot write " + impl_->temporary));
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
}

void OutputFile::WriteAt(std::uint64_t offset, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = pwrite(impl_->fd, data, size, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      Fail(SystemReason(u"cannot write " + impl_->temporary));
    }
    data += n;
    size -= static_cast<std::size_t>(n);
    offset += static_cast<std::uint64_t>(n);
  }
}

void OutputFile::Close() {
  if (impl_->fd >= 0) {
    const int fd = impl_->fd;
    impl_->fd = -1;
    if (close(fd) != 0) {
      Fail(SystemReason(u"cannot write " + impl_->temporary));
    }
  }
}

void OutputFile::Commit() {
  Close();
  if (rename(Native(impl_->temporary).c_str(), Native(impl_->path).c_str()) != 0) {
    Fail(SystemReason(u"cannot write " + impl_->path));
  }
  impl_->committed = true;
}

} // namespace VtrPlatform
