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
using testsupport::run;

const fs::path kStage = STAGE_DIR;
const fs::path kPrefix = kStage / "usr/local";
const fs::path kLibDir = kPrefix / INSTALL_LIBDIR;
const std::string kMan1 = std::string(INSTALL_MANDIR) + "/man1/";

std::vector<std::string> words(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> out;
  for (std::string w; in >> w;) out.push_back(w);
  return out;
}

bool starts_with(const std::string& s, const std::string& prefix) { return s.rfind(prefix, 0) == 0; }

std::vector<fs::path> installed_programs() {
  std::vector<fs::path> programs = {kPrefix / INSTALL_BINDIR / "quelmux"};
  if (HAVE_CRVTDEC) programs.push_back(kPrefix / INSTALL_BINDIR / "crvtdec");
  return programs;
}

// The GStreamer plug-in, in GStreamer's directory under the library directory.
std::vector<fs::path> installed_plugins() {
  if (!HAVE_GST_PLUGIN) return {};
  return {kLibDir / "gstreamer-1.0/libgstcorvath.so"};
}

std::vector<std::string> manual_pages() {
  std::vector<std::string> pages = {"quelmux.1"};
  if (HAVE_CRVTDEC) pages.push_back("crvtdec.1");
  return pages;
}

// A manual page as the reader sees it, in plain text; the formatter's
// warnings go to `warnings`.
std::string render(const std::string& page, std::string* warnings) {
  const fs::path file = kPrefix / (kMan1 + page + MAN_SUFFIX);
  std::string source;
  if (std::string(MAN_SUFFIX).empty()) {
    const auto bytes = testsupport::read_file(file);
    source.assign(bytes.begin(), bytes.end());
  } else {
    const auto unzipped = run({"gzip", "-dc", file.string()});
    EXPECT_EQ(unzipped.exit_code, 0) << unzipped.err;
    source = unzipped.out;
  }
  const auto formatted = run({"groff", "-man", "-Tutf8", "-ww", "-rLL=200n", "-P-cbou"}, source);
  EXPECT_EQ(formatted.exit_code, 0);
  *warnings = formatted.err;
  return formatted.out;
}

// corvath.pc's flags, as pkg-config gives them for the staged tree.
testsupport::RunResult pkg_config_flags() {
  return run({"env", "PKG_CONFIG_SYSROOT_DIR=" + kStage.string(),
              "PKG_CONFIG_LIBDIR=" + (kLibDir / "pkgconfig").string(), "pkg-config", "--cflags", "--libs", "corvath"});
}

TEST(InstallTree, HoldsExactlyTheProgramsLibraryHeaderAndManualPages) {
  std::set<std::string> want = {
      std::string(INSTALL_INCLUDEDIR) + "/corvath.h",        std::string(INSTALL_LIBDIR) + "/libcorvath.so",
      std::string(INSTALL_LIBDIR) + "/libcorvath.so.1",      std::string(INSTALL_LIBDIR) + "/libcorvath.so.1.0.0",
      std::string(INSTALL_LIBDIR) + "/pkgconfig/corvath.pc",
  };
  for (const fs::path& p : installed_programs()) want.insert(p.lexically_relative(kPrefix).string());
  for (const fs::path& p : installed_plugins()) want.insert(p.lexically_relative(kPrefix).string());
  for (const std::string& page : manual_pages()) want.insert(kMan1 + page + MAN_SUFFIX);

  std::set<std::string> have;
  for (const auto& entry : fs::recursive_directory_iterator(kStage)) {
    if (entry.is_directory() && !entry.is_symlink()) continue;
    const fs::path rel = entry.path().lexically_relative(kStage);
    ASSERT_TRUE(starts_with(rel.string(), "usr/local/")) << rel;
    have.insert(entry.path().lexically_relative(kPrefix).string());
  }
  EXPECT_EQ(have, want);

  // The link-time name and the soname are links to the one library file.
  EXPECT_EQ(fs::read_symlink(kLibDir / "libcorvath.so"), "libcorvath.so.1");
  EXPECT_EQ(fs::read_symlink(kLibDir / "libcorvath.so.1"), "libcorvath.so.1.0.0");
  EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(kLibDir / "libcorvath.so.1.0.0")));
}

TEST(InstallTree, PkgConfigFileNamesTheInstallPrefixOnly) {
  const auto bytes = testsupport::read_file(kLibDir / "pkgconfig/corvath.pc");
  const std::string pc(bytes.begin(), bytes.end());
  EXPECT_TRUE(starts_with(pc, "prefix=/usr/local\n")) << pc;
  for (const std::string& path : {std::string(SOURCE_DIR), std::string(BINARY_DIR), kStage.string()}) {
    EXPECT_EQ(pc.find(path), std::string::npos) << path << " in\n" << pc;
  }
  EXPECT_NE(pc.find("\nVersion: " PROJECT_VERSION_TEXT "\n"), std::string::npos) << pc;

  if (!testsupport::need_program("pkg-config")) GTEST_SKIP() << "pkg-config missing";
  const auto flags = pkg_config_flags();
  ASSERT_EQ(flags.exit_code, 0) << flags.err;
  EXPECT_EQ(words(flags.out), (std::vector<std::string>{"-I" + (kPrefix / INSTALL_INCLUDEDIR).string(),
                                                        "-L" + kLibDir.string(), "-lcorvath"}));
}

TEST(InstallTree, BinariesCarryNoRunPathAndTheLibraryExportsItsCApiAlone) {
  if (!testsupport::need_program("readelf") || !testsupport::need_program("nm")) GTEST_SKIP();
  std::vector<fs::path> binaries = installed_programs();
  binaries.push_back(kLibDir / "libcorvath.so.1.0.0");
  for (const fs::path& p : installed_plugins()) binaries.push_back(p);
  for (const fs::path& binary : binaries) {
    const auto dynamic = run({"readelf", "-d", binary.string()});
    ASSERT_EQ(dynamic.exit_code, 0) << binary << dynamic.err;
    EXPECT_EQ(dynamic.out.find("RPATH"), std::string::npos) << binary << dynamic.out;
    EXPECT_EQ(dynamic.out.find("RUNPATH"), std::string::npos) << binary << dynamic.out;
  }
  const auto soname = run({"readelf", "-d", (kLibDir / "libcorvath.so.1.0.0").string()});
  EXPECT_NE(soname.out.find("Library soname: [libcorvath.so.1]"), std::string::npos) << soname.out;

  const auto symbols = run({"nm", "-D", "--defined-only", (kLibDir / "libcorvath.so.1").string()});
  ASSERT_EQ(symbols.exit_code, 0) << symbols.err;
  std::set<std::string> exported;
  std::istringstream lines(symbols.out);
  for (std::string line; std::getline(lines, line);) {
    const std::vector<std::string> w = words(line);
    if (!w.empty()) exported.insert(w.back());
  }
  const std::set<std::string> api = {
      "CORVATH_1",
      "crvt_decode@@CORVATH_1",
      "crvt_decoder_create@@CORVATH_1",
      "crvt_decoder_destroy@@CORVATH_1",
      "crvt_encode@@CORVATH_1",
      "crvt_encode_bound@@CORVATH_1",
      "crvt_encoder_create@@CORVATH_1",
      "crvt_encoder_destroy@@CORVATH_1",
      "crvt_frame_size@@CORVATH_1",
      "crvt_status_message@@CORVATH_1",
      "crvt_version@@CORVATH_1",
  };
  // Sanitizer builds add their own hooks; what matters is that nothing of
  // the codec's internals shows.
  for (const std::string& s : exported) {
    if (!api.count(s)) {
      EXPECT_TRUE(!std::string(SANITIZE_FLAGS).empty() && starts_with(s, "__")) << s;
    }
  }
  for (const std::string& s : api) EXPECT_EQ(exported.count(s), 1u) << s;
}

// The example, compiled as another project would (flags from the staged
// corvath.pc and nothing else) and run against the staged library.
TEST(InstallTree, ExampleBuildsAndRunsAgainstTheStagedInstallOnly) {
  if (!testsupport::need_program("pkg-config") || !testsupport::need_program("readelf")) GTEST_SKIP();
  testsupport::TempDir dir;
  const auto flags = pkg_config_flags();
  ASSERT_EQ(flags.exit_code, 0) << flags.err;
  for (const std::string& f : words(flags.out)) {
    if (starts_with(f, "-I") || starts_with(f, "-L")) {
      EXPECT_TRUE(starts_with(f.substr(2), kStage.string())) << f;
    }
  }

  const std::string example = (dir / "roundtrip").string();
  std::vector<std::string> compile = {C_COMPILER, "-std=c99", "-pedantic-errors", "-Wall", "-Wextra", "-Werror"};
  for (const std::string& f : words(SANITIZE_FLAGS)) compile.push_back(f);
  compile.push_back(EXAMPLE_SOURCE);
  for (const std::string& f : words(flags.out)) compile.push_back(f);
  compile.insert(compile.end(), {"-o", example});
  const auto built = run(compile);
  ASSERT_EQ(built.exit_code, 0) << built.out << built.err;
  EXPECT_EQ(run({"readelf", "-d", example}).out.find("PATH"), std::string::npos);

  const std::string library_path = "LD_LIBRARY_PATH=" + kLibDir.string();
  const auto ran = run({"env", library_path, example});
  EXPECT_EQ(ran.exit_code, 0) << ran.out << ran.err;
  EXPECT_NE(ran.out.find("libcorvath " PROJECT_VERSION_TEXT "\n"), std::string::npos) << ran.out;
  EXPECT_NE(ran.out.find("all frames identical\n"), std::string::npos) << ran.out;

  const auto linked = run({"env", library_path, "ldd", example});
  EXPECT_NE(linked.out.find("libcorvath.so.1 => " + (kLibDir / "libcorvath.so.1").string()), std::string::npos)
      << linked.out;
}

TEST(InstallTree, ManualPagesFormatWithoutWarningsAndMatchThePrograms) {
  if (!testsupport::need_program("groff") || !testsupport::need_program("gzip")) GTEST_SKIP();
  for (const std::string& page : manual_pages()) {
    std::string warnings;
    const std::string text = render(page, &warnings);
    EXPECT_EQ(warnings, "") << page;
    EXPECT_NE(text.find("SYNOPSIS"), std::string::npos) << page;
  }

  // quelmux's synopsis is the usage line of its help, word for word.
  std::string warnings;
  const std::string quelmux_page = render("quelmux.1", &warnings);
  const auto usage = run({(kPrefix / INSTALL_BINDIR / "quelmux").string(), "--help"});
  const std::string first = usage.out.substr(0, usage.out.find('\n'));
  ASSERT_TRUE(starts_with(first, "Usage: ")) << usage.out;
  EXPECT_NE(quelmux_page.find(first.substr(7)), std::string::npos) << first;
  EXPECT_NE(quelmux_page.find("gst-launch-1.0 filesrc location=in.mov ! qtdemux ! qtmux faststart=true ! "
                              "filesink location=out.mov"),
            std::string::npos);

  // Every option crvtdec's own help names is in its manual page.
  if (!HAVE_CRVTDEC) return;
  const std::string crvtdec_page = render("crvtdec.1", &warnings);
  const auto help = run({(kPrefix / INSTALL_BINDIR / "crvtdec").string(), "--help"});
  EXPECT_EQ(help.exit_code, 0);
  for (std::string w : words(help.out)) {
    if (!starts_with(w, "--") || w.size() < 3) continue;
    w = w.substr(0, w.find_first_not_of("-abcdefghijklmnopqrstuvwxyz"));
    EXPECT_NE(crvtdec_page.find(w), std::string::npos) << w;
  }
}

TEST(InstallTree, InstalledProgramsConvertAndVerifyAMovie) {
  testsupport::TempDir dir;
  const std::string movie = (dir / "in.mov").string();
  const auto made =
      run({MKMOVIE_EXE, "--size", "67x45", "--frames", "6", "--format", "raw", "--content", "shape", "--quiet", movie});
  ASSERT_EQ(made.exit_code, 0) << made.out << made.err;

  const std::string avi = (dir / "out.avi").string();
  const auto converted = run({(kPrefix / INSTALL_BINDIR / "quelmux").string(), movie, avi});
  EXPECT_EQ(converted.exit_code, 0) << converted.out;
  EXPECT_NE(converted.out.find("6 frames indexed\n"), std::string::npos) << converted.out;
  EXPECT_NE(converted.out.find("Finished writing file " + avi + "\n"), std::string::npos) << converted.out;

  if (!HAVE_CRVTDEC) return;
  const fs::path crvtdec = kPrefix / INSTALL_BINDIR / "crvtdec";
  const auto compared = run({crvtdec.string(), "--compare", avi, movie});
  EXPECT_EQ(compared.exit_code, 0) << compared.out << compared.err;
  EXPECT_NE(compared.out.find("6 frames identical"), std::string::npos) << compared.out;
  const auto version = run({crvtdec.string(), "--version"});
  EXPECT_EQ(version.exit_code, 0);
  EXPECT_NE(version.out.find(PROJECT_VERSION_TEXT), std::string::npos) << version.out;
}

}  // namespace
