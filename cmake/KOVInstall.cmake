# Install rules: libraries with their public headers (each component's file set), resources,
# tools, the CMake package (find_package(KOVModule CONFIG COMPONENTS Core Curl Journal C Qt)) and one
# pkg-config file per library.
#
# Every file belongs to an install component, so that a packager splits them by component
# instead of by file name (cmake --install <dir> --component <name>; debian/*.cmake-components):
#   <Name>Runtime       the shared library of the library component <Name> (Core, Curl, Qt)
#   <Name>Development   its headers, its link or static archive, its CMake targets and its
#                       pkg-config file; CoreDevelopment also holds the package's config and
#                       version files, QtDevelopment the status screen's resources
#   Tools               kov-cli and kov-simulator
#   Documentation       README, changelog and integration guide
include(CMakePackageConfigHelpers)

# Where a packager ships each component's development files, as Component=package pairs
# ("Qt=libkovmoduleqt-dev"): the CMake package names the package when a host asks for a
# component that is not installed.
set(KOV_COMPONENT_PACKAGES "" CACHE STRING "Component=package pairs naming where each component's development files are packaged")

set(KOV_CMAKE_DIR "${CMAKE_INSTALL_LIBDIR}/cmake/KOVModule")
get_target_property(_kov_core_type KOVModuleCore TYPE)
if(_kov_core_type STREQUAL "STATIC_LIBRARY")
  set(KOV_STATIC ON)
else()
  set(KOV_STATIC OFF)
endif()

# Installed programs find the libraries next to them, unless those land in a system directory.
set(_kov_libdir_abs "${CMAKE_INSTALL_FULL_LIBDIR}")
if(NOT _kov_libdir_abs IN_LIST CMAKE_CXX_IMPLICIT_LINK_DIRECTORIES)
  set(_kov_rpath "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")
else()
  set(_kov_rpath "")
endif()

# Each component: its library with its headers (the component's file set), and its exports.
# Components are listed in the order they build on each other.
set(_kov_components "")
foreach(component Core Curl Journal C Qt)
  if(NOT TARGET KOVModule${component})
    continue()
  endif()
  list(APPEND _kov_components ${component})
  install(TARGETS KOVModule${component} EXPORT KOVModule${component}Targets
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT ${component}Runtime
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT ${component}Runtime
      NAMELINK_COMPONENT ${component}Development
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT ${component}Development
    FILE_SET HEADERS DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT ${component}Development
    INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
endforeach()

# The resources are compiled into the Qt library; the originals are installed for hosts that
# restyle or inspect the screen.
if(TARGET KOVModuleQt)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/resources/KOVModuleResources.bundle
    DESTINATION ${CMAKE_INSTALL_DATADIR}/KOVModule COMPONENT QtDevelopment)
  install(FILES ${PROJECT_SOURCE_DIR}/resources/StatusView.ui
    DESTINATION ${CMAKE_INSTALL_DATADIR}/KOVModule COMPONENT QtDevelopment)
endif()

# The Qt library needs the curl library next to it; a host that links only the Qt library
# (its linker dropping what the host does not call itself) finds it through this.
if(_kov_rpath)
  foreach(library KOVModuleCurl KOVModuleJournal KOVModuleC KOVModuleQt)
    if(TARGET ${library})
      set_target_properties(${library} PROPERTIES INSTALL_RPATH "$ORIGIN")
    endif()
  endforeach()
endif()

foreach(tool kov-cli kov-simulator)
  if(TARGET ${tool})
    set_target_properties(${tool} PROPERTIES INSTALL_RPATH "${_kov_rpath}")
    install(TARGETS ${tool} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT Tools)
  endif()
endforeach()

# The CMake package: one targets file per component, installed with the component's
# development files, so that the config finds out at find time which components are there.
# It also learns which components each one links (Qt: Core Curl) and where a packager ships them.
set(KOV_CONFIG_COMPONENTS "")
foreach(component IN LISTS _kov_components)
  install(EXPORT KOVModule${component}Targets
    NAMESPACE KOVModule::
    FILE KOVModule${component}Targets.cmake
    DESTINATION ${KOV_CMAKE_DIR}
    COMPONENT ${component}Development)
  get_target_property(links KOVModule${component} LINK_LIBRARIES)
  set(needs "")
  foreach(link IN LISTS links)
    if(link MATCHES "^KOVModule::(.+)$")
      list(APPEND needs ${CMAKE_MATCH_1})
    endif()
  endforeach()
  set(package "")
  foreach(pair IN LISTS KOV_COMPONENT_PACKAGES)
    if(pair MATCHES "^${component}=(.+)$")
      set(package ${CMAKE_MATCH_1})
    endif()
  endforeach()
  string(APPEND KOV_CONFIG_COMPONENTS
    "set(_kov_needs_${component} \"${needs}\")\nset(_kov_package_${component} \"${package}\")\n")
endforeach()
# A static Qt component hands Qt TextToSpeech on to the final link when it was built with it;
# a shared one keeps it to itself, and its hosts need no Qt TextToSpeech to build.
get_property(_kov_speech GLOBAL PROPERTY KOV_QT_TEXT_TO_SPEECH)
set(KOV_QT_EXTRA_COMPONENTS "")
if(_kov_speech AND KOV_STATIC)
  set(KOV_QT_EXTRA_COMPONENTS " TextToSpeech")
endif()
configure_package_config_file(
  ${PROJECT_SOURCE_DIR}/cmake/KOVModuleConfig.cmake.in
  ${PROJECT_BINARY_DIR}/KOVModuleConfig.cmake
  INSTALL_DESTINATION ${KOV_CMAKE_DIR})
# 0.x: a minor release may change the interface, so only the same minor version matches.
write_basic_package_version_file(
  ${PROJECT_BINARY_DIR}/KOVModuleConfigVersion.cmake
  VERSION ${PROJECT_VERSION}
  COMPATIBILITY SameMinorVersion)
install(FILES
  ${PROJECT_BINARY_DIR}/KOVModuleConfig.cmake
  ${PROJECT_BINARY_DIR}/KOVModuleConfigVersion.cmake
  DESTINATION ${KOV_CMAKE_DIR}
  COMPONENT CoreDevelopment)

# pkg-config. Static archives carry their private dependencies and the static define.
if(KOV_STATIC)
  set(KOV_PC_CFLAGS " -DKOV_STATIC_DEFINE")
  set(KOV_PC_CORE_REQUIRES_PRIVATE "expat icu-uc")
  set(KOV_PC_CURL_REQUIRES_PRIVATE "libcurl")
  set(KOV_PC_JOURNAL_REQUIRES_PRIVATE "sqlite3")
  set(KOV_PC_C_REQUIRES_PRIVATE "KOVModuleCore = ${PROJECT_VERSION}, KOVModuleCurl = ${PROJECT_VERSION}, KOVModuleJournal = ${PROJECT_VERSION}")
  set(KOV_PC_C_LIBS_PRIVATE "-lstdc++")
  set(KOV_PC_QT_REQUIRES_PRIVATE "KOVModuleJournal = ${PROJECT_VERSION}")
else()
  set(KOV_PC_CFLAGS "")
  set(KOV_PC_CORE_REQUIRES_PRIVATE "")
  set(KOV_PC_CURL_REQUIRES_PRIVATE "")
  set(KOV_PC_JOURNAL_REQUIRES_PRIVATE "")
  set(KOV_PC_C_REQUIRES_PRIVATE "")
  set(KOV_PC_C_LIBS_PRIVATE "")
  set(KOV_PC_QT_REQUIRES_PRIVATE "")
endif()
# A shared library outside the system's folders is found at run time without LD_LIBRARY_PATH.
set(KOV_PC_RPATH "")
if(NOT KOV_STATIC AND NOT CMAKE_INSTALL_FULL_LIBDIR IN_LIST CMAKE_CXX_IMPLICIT_LINK_DIRECTORIES)
  set(KOV_PC_RPATH " -Wl,-rpath,\${libdir}")
endif()
# Relative to the file itself, so an unpacked or moved prefix still works.
file(RELATIVE_PATH KOV_PC_PREFIX "${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig" "${CMAKE_INSTALL_PREFIX}")
string(REGEX REPLACE "/$" "" KOV_PC_PREFIX "${KOV_PC_PREFIX}")
foreach(component IN LISTS _kov_components)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/pkgconfig/KOVModule${component}.pc.in
    ${PROJECT_BINARY_DIR}/pkgconfig/KOVModule${component}.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/pkgconfig/KOVModule${component}.pc
    DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT ${component}Development)
endforeach()

install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/CHANGELOG.md
  ${PROJECT_SOURCE_DIR}/docs/integration-guide.md
  DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT Documentation)
