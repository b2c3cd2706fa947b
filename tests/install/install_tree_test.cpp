// The tree that `cmake --install --prefix /usr/local` stages under
// DESTDIR=STAGE_DIR (made by the install_stage fixture): what it holds, that
// nothing in it points back into the build, and that programs run and build
// from it alone.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using testsupport::need_program;
using testsupport::run;

const fs::path kStage = STAGE_DIR;
const fs::path kPrefix = kStage / "usr/local";
const fs::path kLibDir = kPrefix / INSTALL_LIBDIR;
const fs::path kBin = kPrefix / INSTALL_BINDIR;
const std::string kMan1 = std::string(INSTALL_MANDIR) + "/man1/";

std::vector<std::string> words(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> out;
  for (std::string w; in >> w;) out.push_back(w);
  return out;
}

bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// The programs, and the GStreamer plug-in in GStreamer's directory under the
// library directory.
const std::vector<std::string> kPrograms =
    HAVE_CRVTDEC ? std::vector<std::string>{"quelmux", "crvtdec"} : std::vector<std::string>{"quelmux"};
const std::vector<fs::path> kPlugins =
    HAVE_GST_PLUGIN ? std::vector<fs::path>{kLibDir / "gstreamer-1.0/libgstcorvath.so"} : std::vector<fs::path>{};

// corvath.pc's flags, as pkg-config gives them for the staged tree.
testsupport::RunResult pkg_config_flags() {
  return run({"env", "PKG_CONFIG_SYSROOT_DIR=" + kStage.string(),
              "PKG_CONFIG_LIBDIR=" + (kLibDir / "pkgconfig").string(), "pkg-config", "--cflags", "--libs", "corvath"});
}

TEST(InstallTree, HoldsExactlyWhatItShouldAndNothingPointsIntoTheBuild) {
  const std::string lib = std::string(INSTALL_LIBDIR) + "/";
  std::set<std::string> want = {std::string(INSTALL_INCLUDEDIR) + "/corvath.h", lib + "libcorvath.so",
                                lib + "libcorvath.so.1", lib + "libcorvath.so.1.0.0", lib + "pkgconfig/corvath.pc"};
  for (const std::string& p : kPrograms) {
    want.insert(std::string(INSTALL_BINDIR) + "/" + p);
    want.insert(kMan1 + p + ".1" + MAN_SUFFIX);
  }
  for (const fs::path& p : kPlugins) want.insert(p.lexically_relative(kPrefix).string());
  std::set<std::string> have;
  for (const auto& entry : fs::recursive_directory_iterator(kStage)) {
    if (!entry.is_directory() || entry.is_symlink()) have.insert(entry.path().lexically_relative(kPrefix).string());
  }
  EXPECT_EQ(have, want);
  // The link-time name and the soname are links to the one library file.
  EXPECT_EQ(fs::read_symlink(kLibDir / "libcorvath.so"), "libcorvath.so.1");
  EXPECT_EQ(fs::read_symlink(kLibDir / "libcorvath.so.1"), "libcorvath.so.1.0.0");
  EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(kLibDir / "libcorvath.so.1.0.0")));
  // corvath.pc names the install prefix only; the binaries carry no run
  // path; the library exports its C API alone (sanitizer builds add their
  // own hooks).
  const auto bytes = testsupport::read_file(kLibDir / "pkgconfig/corvath.pc");
  const std::string pc(bytes.begin(), bytes.end());
  EXPECT_TRUE(pc.starts_with("prefix=/usr/local\n")) << pc;
  for (const std::string& path : {std::string(SOURCE_DIR), std::string(BINARY_DIR), kStage.string()})
    EXPECT_FALSE(has(pc, path)) << path << " in\n" << pc;
  EXPECT_TRUE(has(pc, "\nVersion: " PROJECT_VERSION_TEXT "\n")) << pc;
  if (!need_program("pkg-config") || !need_program("readelf") || !need_program("nm")) GTEST_SKIP();
  EXPECT_EQ(words(pkg_config_flags().out), (std::vector<std::string>{"-I" + (kPrefix / INSTALL_INCLUDEDIR).string(),
                                                                     "-L" + kLibDir.string(), "-lcorvath"}));
  std::vector<fs::path> binaries = kPlugins;
  for (const std::string& p : kPrograms) binaries.push_back(kBin / p);
  binaries.push_back(kLibDir / "libcorvath.so.1.0.0");
  for (const fs::path& binary : binaries) {
    const auto dynamic = run({"readelf", "-d", binary.string()});
    ASSERT_EQ(dynamic.exit_code, 0) << binary << dynamic.err;
    EXPECT_FALSE(has(dynamic.out, "RPATH") || has(dynamic.out, "RUNPATH")) << binary << dynamic.out;
  }

  std::set<std::string> exported, api = {"CORVATH_1"};
  for (const char* f : {"decode", "decoder_create", "decoder_destroy", "encode", "encode_bound", "encoder_create",
                        "encoder_destroy", "frame_size", "status_message", "version"})
    api.insert("crvt_" + std::string(f) + "@@CORVATH_1");
  std::istringstream lines(run({"nm", "-D", "--defined-only", (kLibDir / "libcorvath.so.1").string()}).out);
  for (std::string line; std::getline(lines, line);) {
    const std::vector<std::string> w = words(line);
    if (!w.empty() && !(std::string(SANITIZE_FLAGS) != "" && w.back().starts_with("__"))) exported.insert(w.back());
  }
  EXPECT_EQ(exported, api);
}

// The example, compiled as another project would (flags from the staged
// corvath.pc and nothing else) and run against the staged library.
TEST(InstallTree, ExampleBuildsAndRunsAgainstTheStagedInstallOnly) {
  if (!need_program("pkg-config") || !need_program("readelf")) GTEST_SKIP();
  testsupport::TempDir dir;
  const std::string example = (dir / "roundtrip").string();
  std::vector<std::string> compile = {
      C_COMPILER, "-std=c99", "-pedantic-errors", "-Wall", "-Wextra", "-Werror", EXAMPLE_SOURCE, "-o", example};
  for (const std::string& f : words(SANITIZE_FLAGS " " + pkg_config_flags().out)) compile.push_back(f);
  const auto built = run(compile);
  ASSERT_EQ(built.exit_code, 0) << built.out << built.err;
  EXPECT_FALSE(has(run({"readelf", "-d", example}).out, "PATH"));
  const std::string library_path = "LD_LIBRARY_PATH=" + kLibDir.string();
  const auto ran = run({"env", library_path, example});
  EXPECT_EQ(ran.exit_code, 0) << ran.out << ran.err;
  EXPECT_TRUE(has(ran.out, "libcorvath " PROJECT_VERSION_TEXT "\n") && has(ran.out, "all frames identical\n"))
      << ran.out;
  EXPECT_TRUE(has(run({"env", library_path, "ldd", example}).out,
                  "libcorvath.so.1 => " + (kLibDir / "libcorvath.so.1").string()));
}

// The manual pages format without warnings; every long option a program's
// help names is in its page.
TEST(InstallTree, ManualPagesFormatWithoutWarningsAndMatchThePrograms) {
  if (!need_program("groff") || !need_program("gzip")) GTEST_SKIP();
  for (const std::string& program : kPrograms) {
    const std::string page = (kPrefix / (kMan1 + program + ".1" + MAN_SUFFIX)).string();
    const auto source = std::string(MAN_SUFFIX).empty() ? run({"cat", page}) : run({"gzip", "-dc", page});
    ASSERT_EQ(source.exit_code, 0) << source.err;
    const auto text = run({"groff", "-man", "-Tutf8", "-ww", "-rLL=200n", "-P-cbou"}, source.out);
    EXPECT_EQ(text.exit_code, 0);
    EXPECT_EQ(text.err, "") << page;
    const auto help = run({(kBin / program).string(), "--help"});
    EXPECT_EQ(help.exit_code, 0);
    for (std::string w : words(help.out)) {
      EXPECT_TRUE(!w.starts_with("--") || w.size() < 3 ||
                  has(text.out, w.substr(0, w.find_first_not_of("-abcdefghijklmnopqrstuvwxyz"))))
          << w;
    }
  }
}

TEST(InstallTree, InstalledProgramsConvertAndVerifyAMovie) {
  testsupport::TempDir dir;
  const std::string movie = (dir / "in.mov").string(), avi = (dir / "out.avi").string();
  const auto made =
      run({MKMOVIE_EXE, "--size", "67x45", "--frames", "6", "--format", "raw", "--content", "shape", "--quiet", movie});
  ASSERT_EQ(made.exit_code, 0) << made.out << made.err;
  const auto converted = run({(kBin / "quelmux").string(), movie, avi});
  EXPECT_EQ(converted.exit_code, 0) << converted.out;
  EXPECT_TRUE(has(converted.out, "6 frames indexed\n") && has(converted.out, "Finished writing file " + avi + "\n"))
      << converted.out;
  if (!HAVE_CRVTDEC) return;
  const auto compared = run({(kBin / "crvtdec").string(), "--compare", avi, movie});
  EXPECT_EQ(compared.exit_code, 0) << compared.out << compared.err;
  EXPECT_TRUE(has(compared.out, "6 frames identical")) << compared.out;
}

}  // namespace
