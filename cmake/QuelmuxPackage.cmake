# The Debian packages, built with `cpack -G DEB` in a build tree:
#
#   quelmux      the programs, their manual pages and libcorvath.so.1
#   quelmux-dev  corvath.h, corvath.pc and libcorvath.so, for building
#                programs against the library
#   gstreamer1.0-corvath
#                the GStreamer plug-in (when it is built), in GStreamer's
#                plug-in directory: GStreamer plays and writes Corvath AVIs
#
# Configure with -DCMAKE_INSTALL_PREFIX=/usr to have the library in the
# multiarch directory (lib/<triplet>), as Debian's own packages do.
# dpkg-shlibdeps works out the libraries the programs need (libc, libstdc++,
# libpng for crvtdec).

set(QUELMUX_PACKAGE_MAINTAINER "quelmux developers <quelmux@example.org>"
    CACHE STRING "Maintainer named in the Debian packages")

set(CPACK_PACKAGE_NAME quelmux)
set(CPACK_PACKAGE_VENDOR "quelmux developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# Each package's description below opens with its own summary line; an empty
# common summary keeps CPack from putting another line before it.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_COMPONENTS_ALL runtime development)
set(CPACK_DEB_COMPONENT_INSTALL ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${QUELMUX_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The shlibs file tells dpkg-shlibdeps of other packages which version of
# quelmux provides libcorvath.so.1; it comes with the ldconfig trigger.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME quelmux)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION video)
set(quelmux_package_crvtdec "")
if(TARGET crvtdec)
  set(quelmux_package_crvtdec "
crvtdec decodes such files back, writes their frames as images, proves a
conversion lossless by comparing every frame with the movie, and describes a
file's stream.")
endif()
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION
"lossless QuickTime to AVI converter with the Corvath video codec
quelmux converts uncompressed QuickTime movies (raw RGB or WRLE bitmap video)
into AVI files whose frames are compressed with Corvath (CRVT), a lossless
video codec of its own, or stored as uncompressed bitmaps.${quelmux_package_crvtdec}
.
The package also holds libcorvath, the codec as a shared library.")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME quelmux-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "quelmux (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION
"Corvath lossless video codec library - development files
The header corvath.h, the pkg-config file corvath.pc and the link-time name of
libcorvath, for C and C++ programs that encode and decode Corvath (CRVT)
video frames.")

if(TARGET gstcorvath)
  list(APPEND CPACK_COMPONENTS_ALL gstreamer)
  set(CPACK_DEBIAN_GSTREAMER_PACKAGE_NAME gstreamer1.0-corvath)
  set(CPACK_DEBIAN_GSTREAMER_PACKAGE_SECTION video)
  # libcorvath.so.1 comes with quelmux: dpkg-shlibdeps finds it in the
  # staged files of that package (each package is staged in a directory of
  # its own beside the others) and adds GStreamer's libraries.
  set(CPACK_DEBIAN_GSTREAMER_PACKAGE_DEPENDS "quelmux (= ${PROJECT_VERSION})")
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ../runtime${CPACK_PACKAGING_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR})
  set(CPACK_DEBIAN_GSTREAMER_DESCRIPTION
"GStreamer plug-in for Corvath AVI files
The plug-in corvath lets every GStreamer program play, inspect and transcode
the Corvath (CRVT) AVI files that quelmux writes, OpenDML files of several
parts included (type finding, corvathdemux, corvathdec), and write any video
that GStreamer can read into such a file (corvathavisink).")
endif()

include(CPack)
