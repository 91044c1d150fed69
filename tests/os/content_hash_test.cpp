// Digests of bytes and of files read through a handle.
#include "qor/os/content_hash.h"
#include "qor/os/error_codes.h"

#include "qor/handle/unique_handle.h"

#include "qor/test/errors.h"
#include "qor/test/folders.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using QorOs::ContentDigest;
using QorOs::HashAlgorithm;

std::string Hex(const ContentDigest& digest) {
  static const char digits[] = "0123456789abcdef";
  std::string text;
  for (DWORD i = 0; i < digest.size; ++i) {
    text += digits[digest.bytes[i] >> 4];
    text += digits[digest.bytes[i] & 15];
  }
  return text;
}

ContentDigest Digest(HashAlgorithm algorithm, const std::string& bytes) {
  QorOs::ContentHasher hasher(algorithm);
  // In two pieces: the digest is of the bytes, not of how they came.
  hasher.Add(bytes.data(), bytes.size() / 2);
  hasher.Add(bytes.data() + bytes.size() / 2, bytes.size() - bytes.size() / 2);
  return hasher.Finish();
}

} // namespace

// The published test vectors. Strongest is SHA-256 wherever the system
// offers it (XP SP3 and later, Wine); SHA-1 is what Windows 2000 gets.
TEST(ContentHash, KnownAnswers) {
  const std::string million(1000000, 'a');
  struct Case {
    HashAlgorithm algorithm;
    const std::string* bytes;
    const char* hex;
  } cases[] = {
      {HashAlgorithm::Sha256, nullptr,
       "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {HashAlgorithm::Strongest, nullptr,
       "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {HashAlgorithm::Sha1, nullptr, "a9993e364706816aba3e25717850c26c9cd0d89d"},
      {HashAlgorithm::Sha256, &million,
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
      {HashAlgorithm::Sha1, &million, "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
  };
  const std::string abc = "abc";
  for (const Case& c : cases) {
    const ContentDigest digest = Digest(c.algorithm, c.bytes ? *c.bytes : abc);
    EXPECT_EQ(c.hex, Hex(digest));
    EXPECT_TRUE(digest.valid());
  }
  const ContentDigest empty = QorOs::ContentHasher(HashAlgorithm::Sha1).Finish();
  EXPECT_EQ("da39a3ee5e6b4b0d3255bfef95601890afd80709", Hex(empty));
}

TEST(ContentHash, DigestsAgreeOnlyWhenMadeTheSameWayOfTheSameBytes) {
  const ContentDigest sha256 = Digest(HashAlgorithm::Sha256, "abc");
  EXPECT_EQ(sha256, Digest(HashAlgorithm::Sha256, "abc"));
  EXPECT_NE(sha256, Digest(HashAlgorithm::Sha256, "abd"));
  EXPECT_NE(sha256, Digest(HashAlgorithm::Sha1, "abc"));
  EXPECT_NE(ContentDigest(), ContentDigest()) << "none made: never equal";
  EXPECT_NE(sha256, ContentDigest());
}

// Through the handle, from the start, wherever its position stood.
TEST(ContentHash, AFileThroughItsHandle) {
  QorTest::ScratchFolder scratch;
  const std::wstring path = scratch.path() + L"file.bin";
  std::string bytes(200000, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    bytes[i] = static_cast<char>(i * 7919 >> 3);
  }
  ASSERT_TRUE(QorTest::WriteFileBytes(path, bytes));
  Qor::UniqueFile file(
      CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(file.valid());
  char first[100];
  DWORD got = 0;
  ASSERT_TRUE(ReadFile(file.get(), first, sizeof first, &got, nullptr));
  for (HashAlgorithm algorithm : {HashAlgorithm::Sha256, HashAlgorithm::Sha1}) {
    EXPECT_EQ(Digest(algorithm, bytes), QorOs::HashFile(file.get(), algorithm));
  }
  // A handle that cannot read: the file's error, not a digest.
  Qor::UniqueFile attributes(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ,
                                         nullptr, OPEN_EXISTING, 0, nullptr));
  QorTest::ErrorPtr error =
      QorTest::Catch([&] { QorOs::HashFile(attributes.get(), HashAlgorithm::Sha256); });
  ASSERT_TRUE(error);
  EXPECT_EQ(QorOs::kReadForHashError, error->GetCode());
}
