# Flags shared by every target of our own. Audio must be bit-identical in every build, so
# no fused multiply-add may change a rounding and no host-specific code generation is used.
add_library(kawauso_options INTERFACE)
if(MSVC)
  target_compile_options(kawauso_options INTERFACE /W4 /WX /fp:precise /utf-8)
  target_compile_definitions(kawauso_options INTERFACE UNICODE _UNICODE _CRT_SECURE_NO_WARNINGS)
else()
  target_compile_options(kawauso_options INTERFACE
    -Wall -Wextra -Wshadow -Wconversion -Wno-sign-conversion -Werror -ffp-contract=off)
  if(CMAKE_SYSTEM_PROCESSOR MATCHES "i686|i386|x86$")
    target_compile_options(kawauso_options INTERFACE -msse2 -mfpmath=sse)
  endif()
endif()
if(WIN32)
  target_compile_definitions(kawauso_options INTERFACE UNICODE _UNICODE WIN32_LEAN_AND_MEAN
    NOMINMAX _WIN32_WINNT=0x0601)
  if(MINGW)
    # Static runtime: the executables need nothing but system DLLs.
    target_link_options(kawauso_options INTERFACE -static -static-libgcc -static-libstdc++)
    # Address-space randomisation (with the relocations it needs) and no execution from data,
    # said here rather than left to the linker's defaults; 64-bit gets the whole address space.
    target_link_options(kawauso_options INTERFACE -Wl,--dynamicbase -Wl,--nxcompat)
    if(CMAKE_SIZEOF_VOID_P EQUAL 8)
      target_link_options(kawauso_options INTERFACE -Wl,--high-entropy-va)
    endif()
  elseif(MSVC)
    target_link_options(kawauso_options INTERFACE /DYNAMICBASE /NXCOMPAT
      $<$<EQUAL:${CMAKE_SIZEOF_VOID_P},8>:/HIGHENTROPYVA>)
  endif()
endif()
if(KAWAUSO_SANITIZE AND NOT WIN32)
  target_compile_options(kawauso_options INTERFACE -fsanitize=address,undefined,float-cast-overflow
    -fno-sanitize-recover=all -fno-omit-frame-pointer)
  target_link_options(kawauso_options INTERFACE -fsanitize=address,undefined,float-cast-overflow)
endif()
