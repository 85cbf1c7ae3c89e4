# Build-wide settings shared by the three builds (native, win32, win64).
set(KOBA_ROOT ${CMAKE_SOURCE_DIR})

if(WIN32)
  set(KOBA_WINDOWS ON)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(KOBA_WIN64 ON)
  endif()
  # Windows 7 API level; Unicode by default; no min/max macros.
  add_compile_definitions(_WIN32_WINNT=0x0601 WINVER=0x0601 UNICODE _UNICODE NOMINMAX
                          WIN32_LEAN_AND_MEAN)
  # Tests run only where the binaries can: the win64 build, under Wine.
  if(NOT KOBA_WIN64)
    set(KOBA_RUN_PE_TESTS OFF)
  else()
    set(KOBA_RUN_PE_TESTS ON)
  endif()
else()
  set(KOBA_NATIVE ON)
  option(KOBA_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" ON)
  option(KOBA_FUZZ "Build the libFuzzer targets (clang only)" ON)
  if(KOBA_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer
                        -fno-sanitize-recover=undefined
                        -fsanitize-ignorelist=${CMAKE_SOURCE_DIR}/cmake/ubsan-ignore.txt)
    add_link_options(-fsanitize=address,undefined)
  endif()
endif()

# With the fuzz targets, all native code carries libFuzzer's coverage instrumentation, so that
# a fuzzer sees the edges of the libraries it drives, not only its own harness. The sanitizer
# runtimes linked into every native program provide the coverage callbacks.
if(KOBA_NATIVE AND KOBA_FUZZ AND KOBA_SANITIZE AND CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  set(KOBA_FUZZING ON)
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

# koba_fuzz(NAME SOURCES... LIBS ... RUNS N MAX_LEN N CORPUS DIR): a libFuzzer target with a
# short seeded smoke run on every test pass, starting from the corpus folder; longer runs by
# hand (README).
function(koba_fuzz name)
  if(NOT KOBA_FUZZING)
    return()
  endif()
  cmake_parse_arguments(F "" "RUNS;MAX_LEN;CORPUS" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${F_SOURCES})
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_libraries(${name} PRIVATE ${F_LIBS})
  set(work ${CMAKE_CURRENT_BINARY_DIR}/${name}_work)
  file(MAKE_DIRECTORY ${work})
  add_test(NAME ${name}_smoke COMMAND ${name} -runs=${F_RUNS} -seed=1 -max_len=${F_MAX_LEN}
                                      ${work} ${F_CORPUS})
endfunction()

add_compile_options(-Wall -Wextra -Wshadow -Wno-unknown-pragmas)
if(KOBA_WERROR)
  add_compile_options(-Werror)
endif()

# Header-only libraries from Debian's packages. The cross compilers must not see the rest of
# /usr/include, so each one is exposed through a directory of its own in the build tree.
set(KOBA_THIRDPARTY_INCLUDE ${CMAKE_BINARY_DIR}/thirdparty/include)
file(MAKE_DIRECTORY ${KOBA_THIRDPARTY_INCLUDE})
foreach(item rapidjson SimpleIni.h)
  if(NOT EXISTS /usr/include/${item})
    message(FATAL_ERROR "/usr/include/${item} is missing: run tools/setup-deps.sh")
  endif()
  file(CREATE_LINK /usr/include/${item} ${KOBA_THIRDPARTY_INCLUDE}/${item} SYMBOLIC)
endforeach()
add_library(rapidjson INTERFACE)
target_include_directories(rapidjson SYSTEM INTERFACE ${KOBA_THIRDPARTY_INCLUDE})
# std::string support, 64-bit size types off: the defaults of the 1.x series.
target_compile_definitions(rapidjson INTERFACE RAPIDJSON_HAS_STDSTRING=1)
add_library(simpleini INTERFACE)
target_include_directories(simpleini SYSTEM INTERFACE ${KOBA_THIRDPARTY_INCLUDE})

# GoogleTest: Debian's build natively; cross-built from Debian's sources for Windows.
if(KOBA_NATIVE)
  find_package(GTest REQUIRED)
  set(KOBA_GTEST GTest::gtest_main)
  set(KOBA_GMOCK GTest::gmock)
elseif(KOBA_RUN_PE_TESTS OR KOBA_BUILD_PE_TESTS)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  set(KOBA_GTEST gtest_main)
  set(KOBA_GMOCK gmock)
endif()

# koba_test(NAME SOURCES... LIBS ...): a GoogleTest program registered with CTest. In the win64
# build CTest runs it through the Wine emulator of the toolchain.
function(koba_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} ${KOBA_GTEST})
  add_test(NAME ${name} COMMAND ${name})
  if(T_LABELS)
    set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS}")
  endif()
endfunction()

# A program or library the installer ships: its debug information goes to a file beside it.
function(koba_shipped target)
  add_custom_command(TARGET ${target} POST_BUILD
                     COMMAND ${KOBA_ROOT}/tools/split-debug.sh $<TARGET_FILE:${target}>)
endfunction()

# PE checks of the deliverables: produced with the right machine and subsystem (and, when DLL
# names follow, importing from those only). Run with objdump; nothing 32-bit is executed here.
function(koba_pe_check target machine subsystem)
  add_test(NAME pe_${target}
           COMMAND ${KOBA_ROOT}/tools/check-pe.sh $<TARGET_FILE:${target}> ${machine} ${subsystem}
                   ${ARGN})
endfunction()

# koba_delay_imports(TARGET DLL...): TARGET, and every program linked with it, loads each system
# DLL (named without ".dll") when it first calls one of its functions instead of when it is
# loaded itself. The delay-import libraries are made at build time from the toolchain's import
# libraries. A library is searched only for what the libraries before it on the link line left
# unresolved: call this after linking TARGET with the libraries whose calls should be delayed,
# and before linking it with the DLLs' ordinary import libraries, which still serve their data
# exports.
function(koba_delay_imports target)
  if(KOBA_WIN64)
    set(machine x86-64)
  else()
    set(machine i386)
  endif()
  foreach(dll ${ARGN})
    set(name koba_delay_${dll})
    if(NOT TARGET ${name})
      find_library(KOBA_IMPORT_LIB_${dll} NAMES lib${dll}.a REQUIRED)
      set(lib ${CMAKE_BINARY_DIR}/delay_imports/lib${dll}_delay.a)
      file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/delay_imports)
      add_custom_command(OUTPUT ${lib}
                         COMMAND ${KOBA_ROOT}/tools/make-delay-lib.sh ${machine}
                                 ${KOBA_IMPORT_LIB_${dll}} ${dll}.dll ${lib}
                         DEPENDS ${KOBA_ROOT}/tools/make-delay-lib.sh ${KOBA_IMPORT_LIB_${dll}}
                         COMMENT "Making the delay-import library of ${dll}.dll"
                         VERBATIM)
      add_custom_target(${name}_lib DEPENDS ${lib})
      add_library(${name} STATIC IMPORTED GLOBAL)
      set_target_properties(${name} PROPERTIES IMPORTED_LOCATION ${lib})
      add_dependencies(${name} ${name}_lib)
    endif()
    target_link_libraries(${target} PUBLIC ${name})
  endforeach()
endfunction()
