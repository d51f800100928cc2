# The Debian package: `cpack -G DEB` in a build folder packs what
# `cmake --install` installs there, under /usr.

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quellvisor)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Quellvisor developers")
set(QUELL_PACKAGE_MAINTAINER "Quellvisor developers <quellvisor@example.org>"
  CACHE STRING "Maintainer field of the Debian package: name <e-mail>")
set(CPACK_PACKAGE_CONTACT "${QUELL_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "webcam power meter: a face effect for GStreamer and a capture program")
# CPack puts the summary before this as the first line.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "The live camera picture becomes a green monochrome display; on the face it
finds, a sight glides in, a ring of rays fills while a counting sound loops,
and a large POWER number counts up to a value rolled for that face.

The package holds the GStreamer element quellfx (usable in any pipeline,
e.g. with gst-launch-1.0) with its face cascades and sounds, and the Qt
program capture, which shows the camera through the effect and records it
to AVI files with sound.")

# The package is installed under /usr whatever prefix the folder was
# configured with; the plugin's way to its data folder (effect/) and the
# multiarch library folder (GNUInstallDirs) assume that prefix.
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
if(NOT CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  message(WARNING "The Debian package is laid out for /usr; this folder is configured for "
    "${CMAKE_INSTALL_PREFIX} (library folder ${CMAKE_INSTALL_LIBDIR}). Configure with -DCMAKE_INSTALL_PREFIX=/usr.")
endif()

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# Libraries the two binaries link come from dpkg-shlibdeps (dpkg-dev).
# GStreamer loads the elements the pipelines use by name, so no link
# reveals them: videoconvert, playbin, appsink, audioconvert come with
# plugins-base; v4l2src, jpegdec, avimux, wavparse, autoaudiosink and the
# PulseAudio source with plugins-good.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "gstreamer1.0-plugins-base (>= 1.20), gstreamer1.0-plugins-good (>= 1.20)")
# The overlay's fonts ("Arial" is matched by Liberation Sans, the gauge by
# Noto Sans CJK JP) and ALSA devices as audio inputs; without them the
# program still runs, with fallback fonts or PulseAudio inputs only.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-noto-cjk, fonts-liberation2, gstreamer1.0-alsa")

set(CPACK_SOURCE_GENERATOR TXZ)
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git/" "/build/" "/build-[^/]*/")

include(CPack)
