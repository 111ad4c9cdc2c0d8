// The consumer project, built out of the tree against an installed copy
// (once through the CMake package, once through pkg-config), drives a
// simulated camera with the module the package names.
#include <gtest/gtest.h>

#include <string>

#include "drive_check.h"

namespace {

class PackagingTest : public ::testing::TestWithParam<const char*> {};

TEST_P(PackagingTest, ConsumerBuiltAgainstTheInstalledPackageDrivesACamera) {
  const auto result = vorne_test::DrivePelcoCamera(
      std::string(VORNE_CONSUMERS_DIR "/") + GetParam() + "/vorne-consumer", {});
  EXPECT_NE(result.out.find("consumer: ok"), std::string::npos) << result.out << result.err;
}

INSTANTIATE_TEST_SUITE_P(Installed, PackagingTest, ::testing::Values("cmake", "pkgconfig"));

}  // namespace
