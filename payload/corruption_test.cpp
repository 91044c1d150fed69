// Damaged payloads must fail with a payload error or extract correctly:
// never crash, never hang, never write outside the target folder.
#include "qor/payload/archive.h"
#include "qor/payload/extract_stream.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <set>

using PayloadTest::Random;
using QorTest::ScratchFolder;

namespace {

const std::set<int> kPayloadErrors = {
    QorArchiveFormat::kCorruptedError, QorArchiveFormat::kExtractError,
    QorCompressLib::kDecompressWriteError, QorCompressLib::kDrainWriteError,
    QorCompressLib::kStreamEndMissing};

// The launcher's streaming path on the same payload, decoding on two threads.
int ExpandStreaming(const std::string& payload, const std::wstring& target) {
  auto error = PayloadTest::ExtractStreaming(payload, target, 2);
  return error ? error->GetCode() : 0;
}

} // namespace

TEST(PayloadCorruption, BoundedSweep) {
  Random random(20240611);
  ArchiveWriter writer;
  writer.AddEntry(L"VTRInstaller.exe", random.Bytes(3000));
  writer.AddEntry(L"readme.txt", std::string(2000, 'r') + "end");
  writer.AddEntry(L"empty", "");
  const std::string archive = writer.ToString();
  const std::string payload = PayloadTest::Compress(archive);

  ScratchFolder sandbox;
  const std::wstring target = sandbox.path() + L"target\\";
  ScratchFolder streamingSandbox;
  const std::wstring streamingTarget = streamingSandbox.path() + L"target\\";
  int failures = 0, successes = 0;
  for (int round = 0; round < 300; ++round) {
    // Half the cases damage the compressed stream, half the archive inside.
    const bool inner = round % 2 == 1;
    std::string bytes = inner ? archive : payload;
    switch (random.Below(4)) {
    case 0:
    case 1: {
      // In the archive, aim mostly at the header and table.
      const std::size_t span = inner ? 140 : bytes.size();
      for (std::uint32_t n = 1 + random.Below(3); n > 0; --n) {
        bytes[random.Below(static_cast<std::uint32_t>(span))] ^=
            static_cast<char>(1 << random.Below(8));
      }
      break;
    }
    case 2:
      bytes.resize(random.Below(static_cast<std::uint32_t>(bytes.size())));
      break;
    default:
      bytes += random.Bytes(1 + random.Below(64));
      break;
    }
    const std::string input = inner ? PayloadTest::Compress(bytes) : bytes;
    ASSERT_TRUE(CreateDirectoryW(target.c_str(), nullptr));
    const int code = PayloadTest::ExtractInMemory(input, target);
    // The streaming path gives the same outcome and the same files.
    ASSERT_TRUE(CreateDirectoryW(streamingTarget.c_str(), nullptr));
    EXPECT_EQ(code, ExpandStreaming(input, streamingTarget)) << "round " << round;
    if (code == 0) {
      std::vector<std::wstring> names = sandbox.List(L"target\\");
      EXPECT_EQ(names, streamingSandbox.List(L"target\\")) << "round " << round;
      for (const std::wstring& name : names) {
        std::string expected, got;
        PayloadTest::ReadFileBytes(target + name, expected);
        PayloadTest::ReadFileBytes(streamingTarget + name, got);
        EXPECT_TRUE(expected == got) << "round " << round;
      }
    }
    ASSERT_EQ(1u, streamingSandbox.List().size()) << "round " << round;
    QorTest::RemoveTree(streamingTarget);
    if (code == 0) {
      ++successes;
      // Success means the archive parsed; an intact original extracts exactly.
      if (!inner && bytes.compare(0, payload.size(), payload) == 0) {
        std::string content;
        ASSERT_TRUE(PayloadTest::ReadFileBytes(target + L"readme.txt", content));
        EXPECT_EQ(std::string(2000, 'r') + "end", content);
      }
    } else {
      ++failures;
      EXPECT_EQ(1u, kPayloadErrors.count(code)) << "round " << round << " code " << code;
    }
    // Nothing beside the target folder, and no folders inside it.
    const auto outside = sandbox.List();
    ASSERT_EQ(1u, outside.size()) << "round " << round;
    EXPECT_EQ(L"target", outside[0]);
    for (const std::wstring& name : sandbox.List(L"target\\")) {
      const DWORD attributes = GetFileAttributesW((target + name).c_str());
      EXPECT_FALSE(attributes & FILE_ATTRIBUTE_DIRECTORY) << "round " << round;
    }
    QorTest::RemoveTree(target);
  }
  EXPECT_GT(failures, 50);
  EXPECT_GT(successes, 10);
}
