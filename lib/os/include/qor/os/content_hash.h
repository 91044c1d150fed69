// Cryptographic digests of bytes and files, through the system's
// cryptographic providers: SHA-256 where the system has it, SHA-1 on the
// systems that lack it (Windows 2000, XP before SP3).
#pragma once

#include <windows.h>

#include <cstddef>

namespace QorOs {

enum class HashAlgorithm {
  Strongest, // SHA-256 where the system offers it, else SHA-1
  Sha256,
  Sha1,
};

// A digest and the algorithm that made it.
struct ContentDigest {
  HashAlgorithm algorithm = HashAlgorithm::Strongest; // Sha256 or Sha1 once made
  DWORD size = 0;                                     // 0: none made
  unsigned char bytes[32] = {};
  bool valid() const { return size != 0; }
  // Equal only when both were made, by the same algorithm, and agree.
  bool operator==(const ContentDigest& other) const;
  bool operator!=(const ContentDigest& other) const { return !(*this == other); }
};

// Hashes bytes as they come. Strongest falls back to SHA-1 only where the
// system has no SHA-256 (no AES provider, or one without SHA-256); Sha256
// and Sha1 never fall back. Every failure raises QorWin32::Win32Error 560.
class ContentHasher {
public:
  explicit ContentHasher(HashAlgorithm algorithm = HashAlgorithm::Strongest);
  ~ContentHasher();
  ContentHasher(const ContentHasher&) = delete;
  ContentHasher& operator=(const ContentHasher&) = delete;

  HashAlgorithm algorithm() const { return algorithm_; }
  void Add(const void* bytes, std::size_t size);
  // The digest of everything added; the hasher takes nothing more after it.
  ContentDigest Finish();

private:
  HashAlgorithm algorithm_ = HashAlgorithm::Sha1;
  ULONG_PTR provider_ = 0;
  ULONG_PTR hash_ = 0;
};

// The digest, by algorithm (Sha256 or Sha1), of every byte of the file
// behind file (opened for reading data, synchronous), read through that
// handle from its start. Raises QorWin32::Win32Error 560 when hashing
// fails, 561 when the file cannot be read.
ContentDigest HashFile(HANDLE file, HashAlgorithm algorithm);

} // namespace QorOs
