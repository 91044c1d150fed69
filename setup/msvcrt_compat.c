/* The launcher must load on Windows 2000, whose msvcrt.dll predates the
   64-bit-time functions. libstdc++'s file buffer calls _fstat64 (to learn how
   much of a regular file is left to read), which would put _fstat64 into the
   import table. Defining its import slot here, in an object linked straight
   into the program, keeps the import library's entry out: the call goes to
   _fstati64, which every msvcrt.dll has, and the result is widened. */
#include <string.h>
#include <sys/stat.h>

static int __cdecl FstatThroughFstati64(int fd, struct _stat64* out) {
  struct _stati64 in;
  if (_fstati64(fd, &in) != 0) {
    return -1; /* errno is set */
  }
  memset(out, 0, sizeof *out);
  out->st_dev = in.st_dev;
  out->st_ino = in.st_ino;
  out->st_mode = in.st_mode;
  out->st_nlink = in.st_nlink;
  out->st_uid = in.st_uid;
  out->st_gid = in.st_gid;
  out->st_rdev = in.st_rdev;
  out->st_size = in.st_size;
  out->st_atime = in.st_atime;
  out->st_mtime = in.st_mtime;
  out->st_ctime = in.st_ctime;
  return 0;
}

/* The slot that dllimport calls to _fstat64 read (C name _imp___fstat64 is
   the linker symbol __imp___fstat64). */
int(__cdecl* _imp___fstat64)(int, struct _stat64*) = FstatThroughFstati64;
