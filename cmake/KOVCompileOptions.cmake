# Warnings and sanitizers are set per target, never through global flags, so that
# a host that embeds the library keeps its own settings.
function(kov_target_options target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic)
  if(KOV_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
  if(KOV_SANITIZE)
    target_compile_options(${target} PRIVATE -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
    target_link_options(${target} PRIVATE -fsanitize=address,undefined)
    # GCC 12 warns falsely about std::regex and std::function internals once ASan is on.
    if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
      target_compile_options(${target} PRIVATE -Wno-maybe-uninitialized)
    endif()
  endif()
endfunction()
