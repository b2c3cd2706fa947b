// corvathavisink past the first gigabyte: the file goes on in OpenDML parts,
// which crvtdec and corvathdemux read whole.
#include <gtest/gtest.h>

#include <random>

#include "crvtdec_test_util.h"
#include "test_support.h"

TEST(PluginLargeTest, SinkGoesOnInOpenDmlParts) {
  if (!testsupport::need_program("gst-launch-1.0")) GTEST_SKIP();
  setenv("GST_PLUGIN_PATH", QUELMUX_GST_PLUGIN_DIR, 1);
  setenv("GST_REGISTRY", QUELMUX_GST_REGISTRY, 1);
  testsupport::TempDir dir;
  // A picture of noise, which does not compress, given 180 times: 1.1 GB.
  crvtdec_test::Bytes noise(1920 * 1080 * 3);
  std::mt19937 random(7);
  for (auto& b : noise) b = static_cast<std::uint8_t>(random());
  testsupport::write_file(dir / "noise.bgr", noise);
  const std::string file = (dir / "big.avi").string();
  const auto r =
      testsupport::run({"gst-launch-1.0", "-q", "multifilesrc", "location=" + (dir / "noise.bgr").string(), "loop=true",
                        "num-buffers=180", "caps=video/x-raw,format=BGR,width=1920,height=1080,framerate=25/1", "!",
                        "corvathavisink", "location=" + file});
  ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
  const auto info = crvtdec_test::crvtdec({"--info", file});
  EXPECT_NE(info.out.find("Frames: 180\n"), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("RIFF parts: 2\n"), std::string::npos) << info.out;
  // Every frame of both parts decodes; the last one is the picture.
  const auto played = testsupport::run({"gst-launch-1.0", "-q", "filesrc", "location=" + file, "!", "decodebin", "!",
                                        "multifilesink", "location=" + (dir / "shown.bgr").string(), "max-files=1"});
  EXPECT_EQ(played.exit_code, 0) << played.out << played.err;
  EXPECT_TRUE(testsupport::read_file(dir / "shown.bgr") == noise);
}
