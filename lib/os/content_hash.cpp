#include "qor/os/content_hash.h"
#include "qor/os/error_codes.h"

#include "qor/error/win32_error.h"
#include "qor/handle/unique_handle.h"

// The providers' names, which WIN32_LEAN_AND_MEAN leaves out. Every
// function used here is in advapi32 from Windows 2000 on.
#include <wincrypt.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace QorOs {

namespace {

constexpr DWORD kProvRsaFull = 1;  // PROV_RSA_FULL: every system, SHA-1
constexpr DWORD kProvRsaAes = 24;  // PROV_RSA_AES: SHA-256 from XP SP3 on
constexpr ALG_ID kSha1 = 0x8004;   // CALG_SHA1
constexpr ALG_ID kSha256 = 0x800C; // CALG_SHA_256

struct Choice {
  DWORD providerType;
  ALG_ID id;
  DWORD size;
};

Choice ChoiceFor(HashAlgorithm algorithm) {
  return algorithm == HashAlgorithm::Sha1 ? Choice{kProvRsaFull, kSha1, 20}
                                          : Choice{kProvRsaAes, kSha256, 32};
}

// A provider of that type with a hash of that algorithm; false (nothing
// held, last error set) when the system has neither.
bool Open(const Choice& choice, ULONG_PTR& provider, ULONG_PTR& hash) {
  if (!CryptAcquireContextW(&provider, nullptr, nullptr, choice.providerType,
                            CRYPT_VERIFYCONTEXT | CRYPT_SILENT)) {
    provider = 0;
    return false;
  }
  if (!CryptCreateHash(provider, choice.id, 0, 0, &hash)) {
    Qor::Detail::KeepLastError keep;
    CryptReleaseContext(provider, 0);
    provider = 0;
    hash = 0;
    return false;
  }
  return true;
}

[[noreturn]] void RaiseHashFailed() {
  QorWin32::RaiseLastWin32ErrorF(kContentHashError, L"Unable to compute a cryptographic hash.");
}

} // namespace

bool ContentDigest::operator==(const ContentDigest& other) const {
  return valid() && algorithm == other.algorithm && size == other.size &&
         std::memcmp(bytes, other.bytes, size) == 0;
}

ContentHasher::ContentHasher(HashAlgorithm algorithm) {
  const HashAlgorithm first =
      algorithm == HashAlgorithm::Strongest ? HashAlgorithm::Sha256 : algorithm;
  if (Open(ChoiceFor(first), provider_, hash_)) {
    algorithm_ = first;
    return;
  }
  // SHA-256 is missing before XP SP3: SHA-1 of the base provider then,
  // which a rewritten file still cannot match (that takes a second
  // preimage, not a collision).
  if (algorithm != HashAlgorithm::Strongest ||
      !Open(ChoiceFor(HashAlgorithm::Sha1), provider_, hash_)) {
    RaiseHashFailed();
  }
  algorithm_ = HashAlgorithm::Sha1;
}

ContentHasher::~ContentHasher() {
  Qor::Detail::KeepLastError keep;
  if (hash_) {
    CryptDestroyHash(hash_);
  }
  if (provider_) {
    CryptReleaseContext(provider_, 0);
  }
}

void ContentHasher::Add(const void* bytes, std::size_t size) {
  const BYTE* at = static_cast<const BYTE*>(bytes);
  while (size > 0) {
    const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
    if (!hash_ || !CryptHashData(hash_, at, piece, 0)) {
      RaiseHashFailed();
    }
    at += piece;
    size -= piece;
  }
}

ContentDigest ContentHasher::Finish() {
  ContentDigest digest;
  DWORD size = sizeof digest.bytes;
  if (!hash_ || !CryptGetHashParam(hash_, HP_HASHVAL, digest.bytes, &size, 0) ||
      size != ChoiceFor(algorithm_).size) {
    RaiseHashFailed();
  }
  CryptDestroyHash(hash_);
  hash_ = 0;
  digest.algorithm = algorithm_;
  digest.size = size;
  return digest;
}

ContentDigest HashFile(HANDLE file, HashAlgorithm algorithm) {
  ContentHasher hasher(algorithm);
  LARGE_INTEGER start = {};
  if (!SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) {
    QorWin32::RaiseLastWin32ErrorF(kReadForHashError, L"Unable to read the file to check it.");
  }
  std::vector<BYTE> buffer(64 << 10);
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) {
      QorWin32::RaiseLastWin32ErrorF(kReadForHashError, L"Unable to read the file to check it.");
    }
    if (got == 0) {
      break;
    }
    hasher.Add(buffer.data(), got);
  }
  return hasher.Finish();
}

} // namespace QorOs
