#include "qor/payload/memory_stream.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

using QorCompressLib::MemoryInputStream;
using QorCompressLib::MemoryOutputStream;

TEST(MemoryOutputStream, CollectsPiecesOfEverySize) {
  PayloadTest::Random random(9);
  for (std::size_t hint : {std::size_t(0), std::size_t(1), std::size_t(100000)}) {
    MemoryOutputStream out(hint);
    EXPECT_EQ(0u, out.size());
    std::string expected;
    while (expected.size() < 3000000) {
      const std::string piece = random.Bytes(random.Below(20000));
      out.write(piece.data(), static_cast<std::streamsize>(piece.size()));
      expected += piece;
      out.put('#');
      expected += '#';
    }
    out << "end";
    expected += "end";
    ASSERT_TRUE(out.good());
    ASSERT_EQ(expected.size(), out.size());
    EXPECT_EQ(0, std::memcmp(expected.data(), out.data(), expected.size()));
    // Committed memory stays close to the content.
    EXPECT_LE(out.buffer().committed(), expected.size() + expected.size() / 8 + 2 * 1024 * 1024);
  }
}

TEST(MemoryOutputStream, MovesItsContentWhenItCannotGrowInPlace) {
  MemoryOutputStream out(64 * 1024);
  out.put('a');
  // The first block is 1 MB; take the address space right after it.
  void* blocker = VirtualAlloc(const_cast<char*>(out.data()) + 1024 * 1024, 64 * 1024 * 1024,
                               MEM_RESERVE, PAGE_NOACCESS);
  const char* before = out.data();
  PayloadTest::Random random(1);
  const std::string more = random.Bytes(5 * 1024 * 1024);
  out.write(more.data(), static_cast<std::streamsize>(more.size()));
  ASSERT_TRUE(out.good());
  if (blocker) {
    EXPECT_NE(before, out.data());
    VirtualFree(blocker, 0, MEM_RELEASE);
  }
  ASSERT_EQ(more.size() + 1, out.size());
  EXPECT_EQ('a', out.data()[0]);
  EXPECT_EQ(0, std::memcmp(more.data(), out.data() + 1, more.size()));
}

TEST(MemoryInputStream, ReadsTheBufferInPlace) {
  const std::string data = "0123456789";
  MemoryInputStream in(data.data(), data.size());
  char piece[4];
  in.read(piece, 4);
  EXPECT_EQ(4, in.gcount());
  EXPECT_EQ(0, std::memcmp(piece, "0123", 4));
  EXPECT_EQ('4', in.get());
  in.read(piece, 4);
  EXPECT_EQ(4, in.gcount());
  in.read(piece, 4);
  EXPECT_EQ(1, in.gcount());
  EXPECT_EQ('9', piece[0]);
  EXPECT_TRUE(in.eof());
  MemoryInputStream empty(nullptr, 0);
  empty.read(piece, 4);
  EXPECT_EQ(0, empty.gcount());
  EXPECT_TRUE(empty.eof());
}

namespace {

// Reserves all free address space (in pieces down to one granule) for the
// life of the object, so that any further reservation fails.
class AddressSpaceFiller {
public:
  AddressSpaceFiller() {
    blocks_.reserve(1 << 16);
    for (std::size_t size = 1u << 30; size >= 64 * 1024;) {
      void* block = blocks_.size() < blocks_.capacity()
                        ? VirtualAlloc(nullptr, size, MEM_RESERVE, PAGE_NOACCESS)
                        : nullptr;
      if (block) {
        blocks_.push_back(block);
      } else {
        size /= 2;
      }
    }
  }
  ~AddressSpaceFiller() {
    for (void* block : blocks_) {
      VirtualFree(block, 0, MEM_RELEASE);
    }
  }
  AddressSpaceFiller(const AddressSpaceFiller&) = delete;
  AddressSpaceFiller& operator=(const AddressSpaceFiller&) = delete;

private:
  std::vector<void*> blocks_;
};

struct FullAddressSpaceCase {
  MemoryOutputStream* out;
  std::size_t sizeAfter;
  bool good;
};

// Writes more than the address space has room for: growing in place and
// moving both fail. A 32-bit process fills its 2 GB and writes past the
// stream's first reservation (1 MB). The 128 TB of a 64-bit one cannot be
// filled quickly (Wine keeps a byte for every page reserved), so there the
// write asks for more than the whole space; the stream takes the room before
// it reads a byte, so the source need not be that long.
DWORD WINAPI WriteWithFullAddressSpace(void* parameter) {
  FullAddressSpaceCase& test = *static_cast<FullAddressSpaceCase*>(parameter);
  const std::string piece(1024 * 1024, 'x');
  if (sizeof(void*) == 4) {
    AddressSpaceFiller filler;
    test.out->write(piece.data(), static_cast<std::streamsize>(piece.size()));
  } else {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    const std::uintptr_t space = reinterpret_cast<std::uintptr_t>(info.lpMaximumApplicationAddress);
    test.out->write(piece.data(), static_cast<std::streamsize>(space + space / 2));
  }
  test.good = test.out->good();
  test.sizeAfter = test.out->size();
  return 0;
}

} // namespace

TEST(MemoryOutputStream, FailsPromptlyWhenTheAddressSpaceIsFull) {
  MemoryOutputStream out(64 * 1024);
  out.put('a');
  ASSERT_TRUE(out.good());
  FullAddressSpaceCase test = {&out, 0, true};
  // The writing runs on a thread of its own (its stack reserved before the
  // space is filled) so that a retry loop that never ends fails the test
  // instead of hanging it.
  HANDLE thread = CreateThread(nullptr, 0, WriteWithFullAddressSpace, &test, 0, nullptr);
  ASSERT_NE(nullptr, thread);
  const DWORD waited = WaitForSingleObject(thread, 60000);
  if (waited != WAIT_OBJECT_0) {
    TerminateThread(thread, 1);
  }
  CloseHandle(thread);
  ASSERT_EQ(WAIT_OBJECT_0, waited) << "writing did not end";
  EXPECT_FALSE(test.good);
  EXPECT_EQ(1u, test.sizeAfter);
  EXPECT_EQ('a', out.data()[0]);
  // With space again, a fresh stream works.
  MemoryOutputStream again;
  again << "fine";
  EXPECT_TRUE(again.good());
}

TEST(MemoryBlock, KeepsWhatWasAppendedAcrossMoves) {
  QorCompressLib::MemoryBlock block(64 * 1024);
  EXPECT_TRUE(block.Append("", 0));
  EXPECT_EQ(0u, block.size());
  ASSERT_TRUE(block.Append("a", 1));
  // Taking the address space after the first block makes the next growth
  // move the content.
  void* blocker = VirtualAlloc(const_cast<char*>(block.data()) + 1024 * 1024, 64 * 1024 * 1024,
                               MEM_RESERVE, PAGE_NOACCESS);
  PayloadTest::Random random(2);
  const std::string more = random.Bytes(5 * 1024 * 1024);
  for (std::size_t at = 0; at < more.size(); at += 300000) {
    ASSERT_TRUE(block.Append(more.data() + at, std::min<std::size_t>(300000, more.size() - at)));
  }
  if (blocker) {
    VirtualFree(blocker, 0, MEM_RELEASE);
  }
  ASSERT_EQ(more.size() + 1, block.size());
  EXPECT_EQ('a', block.data()[0]);
  EXPECT_EQ(0, std::memcmp(more.data(), block.data() + 1, more.size()));
  EXPECT_LE(block.committed(), block.size() + block.size() / 8 + 2 * 1024 * 1024);
}
