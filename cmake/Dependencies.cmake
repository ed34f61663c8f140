# The third-party libraries, as the same target names on both systems, so that
# the components' CMakeLists only link them:
#   Boost::headers, spdlog::spdlog_header_only, OpenSSL::SSL, OpenSSL::Crypto,
#   zelvo::picojson, zelvo::rapidjson, zelvo::openjp2, zelvo::png, zelvo::pcsc,
#   zelvo::psl, zelvo::jni (headers), GTest::gtest, GTest::gtest_main, Threads::Threads
# Linux: Debian's packages. Windows (mingw-w64 cross-build): the header-only
# libraries from Debian's /usr/include, the others built from Debian's source
# packages by tools/windows/build-deps.sh (ZELVO_WINDOWS_DEPS_FILE).

find_package(Threads REQUIRED)

if(NOT WIN32)
  find_package(PkgConfig REQUIRED)
  find_package(OpenSSL REQUIRED)
  find_package(spdlog REQUIRED)
  find_package(Boost 1.74 REQUIRED)
  pkg_check_modules(PCSCLITE REQUIRED IMPORTED_TARGET libpcsclite)
  pkg_check_modules(OPENJP2 REQUIRED IMPORTED_TARGET libopenjp2)
  pkg_check_modules(LIBPNG REQUIRED IMPORTED_TARGET libpng)
  pkg_check_modules(LIBPSL REQUIRED IMPORTED_TARGET libpsl)
  find_path(RAPIDJSON_INCLUDE_DIR rapidjson/writer.h REQUIRED)
  find_path(PICOJSON_INCLUDE_DIR picojson.h REQUIRED)

  add_library(zelvo::pcsc ALIAS PkgConfig::PCSCLITE)
  add_library(zelvo::openjp2 ALIAS PkgConfig::OPENJP2)
  add_library(zelvo::png ALIAS PkgConfig::LIBPNG)
  add_library(zelvo::psl ALIAS PkgConfig::LIBPSL)
  add_library(zelvo_rapidjson INTERFACE)
  target_include_directories(zelvo_rapidjson SYSTEM INTERFACE ${RAPIDJSON_INCLUDE_DIR})
  add_library(zelvo::rapidjson ALIAS zelvo_rapidjson)
  add_library(zelvo_picojson INTERFACE)
  target_include_directories(zelvo_picojson SYSTEM INTERFACE ${PICOJSON_INCLUDE_DIR})
  add_library(zelvo::picojson ALIAS zelvo_picojson)

  # CMake's JNI search misses Debian's java-17 folder when no default-java link
  # exists: without JAVA_HOME, start it from the javac on PATH.
  if(NOT JAVA_HOME AND NOT DEFINED ENV{JAVA_HOME})
    find_program(ZELVO_JAVAC javac)
    if(ZELVO_JAVAC)
      get_filename_component(ZELVO_JAVAC_REAL "${ZELVO_JAVAC}" REALPATH)
      get_filename_component(JAVA_HOME "${ZELVO_JAVAC_REAL}/../.." ABSOLUTE)
    endif()
  endif()
  find_package(JNI REQUIRED)
  add_library(zelvo_jni INTERFACE)
  target_include_directories(zelvo_jni SYSTEM INTERFACE ${JNI_INCLUDE_DIRS})
  add_library(zelvo::jni ALIAS zelvo_jni)

  if(BUILD_TESTING)
    find_package(GTest REQUIRED)
  endif()
  return()
endif()

# ---- Windows ----
if(NOT ZELVO_WINDOWS_DEPS_FILE OR NOT EXISTS "${ZELVO_WINDOWS_DEPS_FILE}")
  message(FATAL_ERROR "ZELVO_WINDOWS_DEPS_FILE must name the deps.cmake written by tools/windows/build-deps.sh "
                      "(./dev windows does both)")
endif()
include(${ZELVO_WINDOWS_DEPS_FILE})

# Debian's header-only libraries, seen through a folder of links that holds
# nothing else: the rest of /usr/include belongs to Linux.
set(ZELVO_LINUX_HEADERS ${CMAKE_BINARY_DIR}/linux-headers)
file(MAKE_DIRECTORY ${ZELVO_LINUX_HEADERS})
foreach(entry boost spdlog fmt rapidjson picojson.h)
  if(NOT EXISTS ${ZELVO_LINUX_HEADERS}/${entry})
    file(CREATE_LINK /usr/include/${entry} ${ZELVO_LINUX_HEADERS}/${entry} SYMBOLIC)
  endif()
endforeach()

add_library(Boost::headers INTERFACE IMPORTED)
# Windows 10 is the oldest system supported.
target_compile_definitions(Boost::headers INTERFACE _WIN32_WINNT=0x0A00 WINVER=0x0A00 BOOST_ALL_NO_LIB)
target_include_directories(Boost::headers SYSTEM INTERFACE ${ZELVO_LINUX_HEADERS})
target_link_libraries(Boost::headers INTERFACE ws2_32 mswsock)

add_library(spdlog::spdlog_header_only INTERFACE IMPORTED)
# Log files are opened through their wide names.
target_compile_definitions(spdlog::spdlog_header_only INTERFACE SPDLOG_FMT_EXTERNAL FMT_HEADER_ONLY
  SPDLOG_WCHAR_FILENAMES)
target_include_directories(spdlog::spdlog_header_only SYSTEM INTERFACE ${ZELVO_LINUX_HEADERS})

add_library(zelvo::picojson INTERFACE IMPORTED)
target_include_directories(zelvo::picojson SYSTEM INTERFACE ${ZELVO_LINUX_HEADERS})
add_library(zelvo::rapidjson INTERFACE IMPORTED)
target_include_directories(zelvo::rapidjson SYSTEM INTERFACE ${ZELVO_LINUX_HEADERS})

add_library(OpenSSL::Crypto STATIC IMPORTED)
set_target_properties(OpenSSL::Crypto PROPERTIES IMPORTED_LOCATION ${ZELVO_WINDOWS_OPENSSL_ROOT}/lib/libcrypto.a)
target_include_directories(OpenSSL::Crypto SYSTEM INTERFACE ${ZELVO_WINDOWS_OPENSSL_ROOT}/include)
target_link_libraries(OpenSSL::Crypto INTERFACE ${ZELVO_WINDOWS_OPENSSL_LINK})
add_library(OpenSSL::SSL STATIC IMPORTED)
set_target_properties(OpenSSL::SSL PROPERTIES IMPORTED_LOCATION ${ZELVO_WINDOWS_OPENSSL_ROOT}/lib/libssl.a)
target_link_libraries(OpenSSL::SSL INTERFACE OpenSSL::Crypto)

add_library(zelvo::openjp2 STATIC IMPORTED)
set_target_properties(zelvo::openjp2 PROPERTIES IMPORTED_LOCATION ${ZELVO_WINDOWS_OPENJPEG_ROOT}/lib/libopenjp2.a)
target_include_directories(zelvo::openjp2 SYSTEM INTERFACE ${ZELVO_WINDOWS_OPENJPEG_INCLUDE})
target_compile_definitions(zelvo::openjp2 INTERFACE OPJ_STATIC)

add_library(zelvo::png STATIC IMPORTED)
set_target_properties(zelvo::png PROPERTIES IMPORTED_LOCATION ${ZELVO_WINDOWS_PNG_LIBRARY})
target_include_directories(zelvo::png SYSTEM INTERFACE ${ZELVO_WINDOWS_PNG_ROOT}/include ${ZELVO_WINDOWS_ZLIB_INCLUDE})
# The static zlib: its import library would tie the programs to zlib1.dll.
target_link_libraries(zelvo::png INTERFACE ${ZELVO_WINDOWS_ZLIB_LIBRARY})

add_library(zelvo::psl STATIC IMPORTED)
set_target_properties(zelvo::psl PROPERTIES IMPORTED_LOCATION ${ZELVO_WINDOWS_PSL_ROOT}/lib/libpsl.a)
target_include_directories(zelvo::psl SYSTEM INTERFACE ${ZELVO_WINDOWS_PSL_ROOT}/include)
if(ZELVO_WINDOWS_PSL_DEFINES)
  target_compile_definitions(zelvo::psl INTERFACE ${ZELVO_WINDOWS_PSL_DEFINES})
endif()
if(ZELVO_WINDOWS_PSL_LINK)
  target_link_libraries(zelvo::psl INTERFACE ${ZELVO_WINDOWS_PSL_LINK})
endif()

add_library(zelvo::pcsc INTERFACE IMPORTED)
target_link_libraries(zelvo::pcsc INTERFACE winscard)

# jni.h from Debian's JDK (the same on every system); its Windows half, jni_md.h,
# is our own (cmake/windows/jni/).
file(GLOB ZELVO_JDK_JNI /usr/lib/jvm/*/include/jni.h)
list(GET ZELVO_JDK_JNI 0 ZELVO_JDK_JNI)
get_filename_component(ZELVO_JDK_INCLUDE ${ZELVO_JDK_JNI} DIRECTORY)
add_library(zelvo::jni INTERFACE IMPORTED)
target_include_directories(zelvo::jni SYSTEM INTERFACE ${CMAKE_SOURCE_DIR}/cmake/windows/jni ${ZELVO_JDK_INCLUDE})

if(BUILD_TESTING)
  foreach(lib gtest gtest_main gmock gmock_main)
    add_library(GTest::${lib} STATIC IMPORTED)
    set_target_properties(GTest::${lib} PROPERTIES IMPORTED_LOCATION ${ZELVO_WINDOWS_GTEST_ROOT}/lib/lib${lib}.a)
    target_include_directories(GTest::${lib} SYSTEM INTERFACE ${ZELVO_WINDOWS_GTEST_ROOT}/include)
  endforeach()
  target_link_libraries(GTest::gtest_main INTERFACE GTest::gtest)
endif()
