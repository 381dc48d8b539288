# Library-wide settings of KOVModule::Core and KOVModule::Qt.

# kov_add_component(Name)
# One component of the library: KOVModule<Name> (shared or static, as BUILD_SHARED_LIBS
# says), its alias KOVModule::<Name>, its public headers as a file set from
# include/<name>/KOVModule (installed as <KOVModule/...>), and the object library
# KOVModule<Name>Objects that holds its code. The component's directory adds its sources to
# the object library. Tests that reach internal classes link the objects instead of the
# library, so they see the very code hosts link, whatever the library's type.
#
# Hidden by default: a shared library exports only the declarations its public headers mark
# with KOV_<NAME>_EXPORT. A static library defines KOV_STATIC_DEFINE for itself and its
# users, which empties those macros.
function(kov_add_component name)
  string(TOLOWER ${name} dir)
  set(lib KOVModule${name})
  set(objects ${lib}Objects)
  add_library(${objects} OBJECT)
  add_library(${lib})
  add_library(KOVModule::${name} ALIAS ${lib})
  file(GLOB headers CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/include/${dir}/KOVModule/*.h)
  target_sources(${lib} PUBLIC FILE_SET HEADERS BASE_DIRS ${PROJECT_SOURCE_DIR}/include/${dir} FILES ${headers})
  target_sources(${lib} PRIVATE $<TARGET_OBJECTS:${objects}>)
  target_include_directories(${objects}
    PUBLIC $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include/${dir}>
    PRIVATE ${PROJECT_SOURCE_DIR}/src)
  set_target_properties(${lib} PROPERTIES
    OUTPUT_NAME ${lib}
    EXPORT_NAME ${name}
    VERSION ${PROJECT_VERSION}
    SOVERSION ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR})
  set_target_properties(${objects} PROPERTIES
    POSITION_INDEPENDENT_CODE ON
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)
  get_target_property(type ${lib} TYPE)
  if(type STREQUAL "STATIC_LIBRARY")
    target_compile_definitions(${lib} PUBLIC KOV_STATIC_DEFINE)
    target_compile_definitions(${objects} PUBLIC KOV_STATIC_DEFINE)
  else()
    target_compile_definitions(${objects} PRIVATE ${lib}_EXPORTS)
  endif()
  target_compile_features(${lib} PUBLIC cxx_std_20)
  target_compile_features(${objects} PUBLIC cxx_std_20)
  kov_target_options(${objects})
endfunction()

# kov_component_link(Name PUBLIC|PRIVATE deps...)
# Links the component and its objects alike.
function(kov_component_link name)
  target_link_libraries(KOVModule${name} ${ARGN})
  string(REPLACE "PRIVATE" "PUBLIC" objectDeps "${ARGN}")
  target_link_libraries(KOVModule${name}Objects ${objectDeps})
endfunction()

# kov_add_export_tests()
# For each shared library, a test that its soname is right and that it exports nothing but
# what the public headers mark (cmake/KOVCheckExports.cmake).
function(kov_add_export_tests)
  foreach(pair IN ITEMS "Core=KOV_CORE_EXPORT" "Curl=KOV_CURL_EXPORT" "Journal=KOV_JOURNAL_EXPORT"
                        "C=KOV_C_EXPORT" "Qt=KOV_QT_EXPORT")
    string(REPLACE "=" ";" pair "${pair}")
    list(GET pair 0 component)
    list(GET pair 1 macro)
    set(target KOVModule${component})
    string(TOLOWER ${component} dir)
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
        -DHEADERS=${PROJECT_SOURCE_DIR}/include/${dir}/KOVModule
        -DONLY_PREFIX=$<$<STREQUAL:${component},C>:kov_>
        -DNM=${CMAKE_NM}
        -DREADELF=${CMAKE_READELF}
        -P ${PROJECT_SOURCE_DIR}/cmake/KOVCheckExports.cmake)
  endforeach()
endfunction()

# The version headers are written by hand; they must name the project's version.
function(kov_check_version_header header c_header)
  file(READ ${header} text)
  if(NOT text MATCHES "KOVModuleVersionString = \"([^\"]*)\"")
    message(FATAL_ERROR "${header} defines no KOVModuleVersionString")
  endif()
  if(NOT CMAKE_MATCH_1 STREQUAL PROJECT_VERSION)
    message(FATAL_ERROR "${header} says ${CMAKE_MATCH_1}, the project is ${PROJECT_VERSION}")
  endif()
  file(READ ${c_header} text)
  foreach(part MAJOR MINOR PATCH)
    if(NOT text MATCHES "#define KOV_VERSION_${part} ([0-9]+)" OR NOT CMAKE_MATCH_1 EQUAL PROJECT_VERSION_${part})
      message(FATAL_ERROR "${c_header}'s KOV_VERSION_${part} is not the project's ${PROJECT_VERSION_${part}}")
    endif()
  endforeach()
endfunction()
