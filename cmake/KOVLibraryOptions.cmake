# Library-wide settings of KOVModule::Core and KOVModule::Qt.

# Hidden by default: a shared library exports only the declarations its public headers
# mark with KOV_CORE_EXPORT / KOV_QT_EXPORT. A static library defines KOV_STATIC_DEFINE for
# itself and its users, which empties those macros.
function(kov_library_visibility target)
  set_target_properties(${target} PROPERTIES
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "STATIC_LIBRARY")
    target_compile_definitions(${target} PUBLIC KOV_STATIC_DEFINE)
  endif()
endfunction()

# kov_static_twin(target twin)
# When target is a shared library and tests or benchmarks are built, adds a static library with the same
# sources and settings. Tests exercise internal functions that the shared library hides; they
# link the twin instead (see kov_link_tests_to_twins). Call it after the last change to target,
# from a directory other than target's.
function(kov_static_twin target twin)
  get_target_property(type ${target} TYPE)
  if(NOT type STREQUAL "SHARED_LIBRARY" OR NOT (KOV_BUILD_TESTS OR KOV_BUILD_BENCH))
    return()
  endif()
  # Made in another directory than target, so that the generated files (forms, resources)
  # of the two never share a path; the sources are taken with absolute paths.
  get_target_property(sources ${target} SOURCES)
  get_target_property(source_dir ${target} SOURCE_DIR)
  list(TRANSFORM sources PREPEND "${source_dir}/" REGEX "^[^/$]")
  add_library(${twin} STATIC ${sources})
  # Per-file options belong to target's directory; the twin's sources need them here too.
  foreach(source IN LISTS sources)
    get_source_file_property(options ${source} DIRECTORY ${source_dir} COMPILE_OPTIONS)
    if(options)
      set_source_files_properties(${source} PROPERTIES COMPILE_OPTIONS "${options}")
    endif()
  endforeach()
  foreach(prop INCLUDE_DIRECTORIES INTERFACE_INCLUDE_DIRECTORIES COMPILE_DEFINITIONS
               INTERFACE_COMPILE_DEFINITIONS COMPILE_OPTIONS COMPILE_FEATURES
               INTERFACE_COMPILE_FEATURES LINK_OPTIONS AUTOMOC AUTOUIC AUTORCC
               AUTOUIC_SEARCH_PATHS CXX_VISIBILITY_PRESET VISIBILITY_INLINES_HIDDEN)
    get_target_property(value ${target} ${prop})
    if(NOT value STREQUAL "value-NOTFOUND")
      set_property(TARGET ${twin} PROPERTY ${prop} "${value}")
    endif()
  endforeach()
  target_compile_definitions(${twin} PUBLIC KOV_STATIC_DEFINE)

  # Public dependencies stay public; the private ones become link-only for the twin's users.
  get_target_property(all ${target} LINK_LIBRARIES)
  get_target_property(public ${target} INTERFACE_LINK_LIBRARIES)
  if(all STREQUAL "all-NOTFOUND")
    set(all "")
  endif()
  if(public STREQUAL "public-NOTFOUND")
    set(public "")
  endif()
  set(private ${all})
  if(public)
    list(REMOVE_ITEM private ${public})
  endif()
  kov_twin_names(public)
  kov_twin_names(private)
  target_link_libraries(${twin} PUBLIC ${public} PRIVATE ${private})
  set_property(GLOBAL APPEND PROPERTY KOV_TWINS "${target}=${twin}")
endfunction()

# Replaces, in the list named by var, each library that has a twin by that twin.
function(kov_twin_names var)
  get_property(twins GLOBAL PROPERTY KOV_TWINS)
  set(result "")
  foreach(item IN LISTS ${var})
    foreach(pair IN LISTS twins)
      string(REPLACE "=" ";" pair "${pair}")
      list(GET pair 0 original)
      list(GET pair 1 twin)
      get_target_property(export_name ${original} EXPORT_NAME)
      if(item STREQUAL original OR item STREQUAL "KOVModule::${export_name}")
        set(item ${twin})
      endif()
    endforeach()
    list(APPEND result "${item}")
  endforeach()
  set(${var} "${result}" PARENT_SCOPE)
endfunction()

# kov_link_tests_to_twins(dir)
# Every executable under dir (recursively) that links a library with a twin links the twin.
function(kov_link_tests_to_twins dir)
  get_property(twins GLOBAL PROPERTY KOV_TWINS)
  if(NOT twins)
    return()
  endif()
  get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
  foreach(target IN LISTS targets)
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "EXECUTABLE")
      get_target_property(libs ${target} LINK_LIBRARIES)
      if(NOT libs STREQUAL "libs-NOTFOUND")
        set(before "${libs}")
        kov_twin_names(libs)
        if(NOT libs STREQUAL before)
          set_property(TARGET ${target} PROPERTY LINK_LIBRARIES "${libs}")
          # A tool library may still pull in the shared library behind the twin; unused, it
          # is not loaded, so no symbol exists twice in the process.
          target_link_options(${target} PRIVATE LINKER:--as-needed)
        endif()
      endif()
    endif()
  endforeach()
  get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
  foreach(subdir IN LISTS subdirs)
    kov_link_tests_to_twins(${subdir})
  endforeach()
endfunction()

# kov_add_export_tests()
# For each shared library, a test that its soname is right and that it exports nothing but
# what the public headers mark (cmake/KOVCheckExports.cmake).
function(kov_add_export_tests)
  foreach(pair IN ITEMS "KOVModuleCore=KOV_CORE_EXPORT" "KOVModuleQt=KOV_QT_EXPORT")
    string(REPLACE "=" ";" pair "${pair}")
    list(GET pair 0 target)
    list(GET pair 1 macro)
    if(NOT TARGET ${target})
      continue()
    endif()
    get_target_property(type ${target} TYPE)
    if(NOT type STREQUAL "SHARED_LIBRARY")
      continue()
    endif()
    add_test(NAME ${target}.Exports
      COMMAND ${CMAKE_COMMAND}
        -DLIBRARY=$<TARGET_FILE:${target}>
        -DSONAME=$<TARGET_SONAME_FILE_NAME:${target}>
        -DMACRO=${macro}
        -DHEADERS=${PROJECT_SOURCE_DIR}/include/KOVModule
        -DNM=${CMAKE_NM}
        -DREADELF=${CMAKE_READELF}
        -P ${PROJECT_SOURCE_DIR}/cmake/KOVCheckExports.cmake)
  endforeach()
endfunction()

# The version header is written by hand; it must name the project's version.
function(kov_check_version_header header)
  file(READ ${header} text)
  if(NOT text MATCHES "KOVModuleVersionString = \"([^\"]*)\"")
    message(FATAL_ERROR "${header} defines no KOVModuleVersionString")
  endif()
  if(NOT CMAKE_MATCH_1 STREQUAL PROJECT_VERSION)
    message(FATAL_ERROR "${header} says ${CMAKE_MATCH_1}, the project is ${PROJECT_VERSION}")
  endif()
endfunction()
