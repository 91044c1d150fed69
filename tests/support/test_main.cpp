// The main of every test program.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  {
    // GoogleTest starts a helper thread the first time a thread reports a
    // result of its own (a failure, a skip). When that is the last test, the
    // program may end while the helper is still starting up, and Wine then
    // brings the process down at exit. Starting it here, long before the
    // end, closes that window.
    testing::ScopedFakeTestPartResultReporter startHelperThread(nullptr);
  }
  return RUN_ALL_TESTS();
}
