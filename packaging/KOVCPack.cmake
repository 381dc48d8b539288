# One Debian package with the libraries, the development files (headers, CMake package,
# pkg-config files) and the tools. Build it from a tree configured with
# -DCMAKE_INSTALL_PREFIX=/usr -DBUILD_SHARED_LIBS=ON (packaging/build-deb.sh does that).
set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "kovmodule")
set(CPACK_PACKAGE_VENDOR "KOVModule")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_DESCRIPTION
  "C++20 client library for card payments on a payment terminal driven by a remote payment\n\
service: the transaction engine (KOVModule::Core), the Qt transport, status screen and\n\
facade (KOVModule::Qt), headers, CMake package and pkg-config files, and the tools\n\
kov-cli (a headless host) and kov-simulator (the payment service on loopback).")
set(CPACK_RESOURCE_FILE_README "${PROJECT_SOURCE_DIR}/README.md")
set(CPACK_PACKAGING_INSTALL_PREFIX "${CMAKE_INSTALL_PREFIX}")
set(CPACK_STRIP_FILES OFF)

set(CPACK_DEBIAN_FILE_NAME "DEB-DEFAULT")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "KOVModule maintainers <maintainers@kovmodule.example.org>")
set(CPACK_DEBIAN_PACKAGE_SECTION "libdevel")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
# Run-time dependencies from the binaries' own needs (dpkg-shlibdeps), plus what building
# against the development files takes.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(_kov_dev_depends "qt6-base-dev (>= 6.4)")
if(KOV_STATIC)
  string(APPEND _kov_dev_depends ", libexpat1-dev, libicu-dev")
endif()
set(CPACK_DEBIAN_PACKAGE_DEPENDS "${_kov_dev_depends}")

include(CPack)
