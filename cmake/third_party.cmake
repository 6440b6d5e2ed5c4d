# Boost.Filesystem and Boost.System 1.81 from Debian: headers from libboost1.81-dev,
# the compiled part of Boost.Filesystem from the boost1.81 source package
# (scripts/setup fetches it into .deps/). GoogleTest from Debian's googletest sources.

set(BOOST_SOURCE_DIR ${CMAKE_SOURCE_DIR}/.deps/boost CACHE PATH "Boost 1.81 sources (libs/filesystem/src)")
set(BOOST_HEADER_DIR /usr/include/boost CACHE PATH "Boost 1.81 headers")
set(GOOGLETEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources")

if(NOT EXISTS ${BOOST_SOURCE_DIR}/libs/filesystem/src/operations.cpp)
  message(FATAL_ERROR "Boost.Filesystem sources not found in ${BOOST_SOURCE_DIR}: run scripts/build")
endif()

# The Linux include folder must not be searched by the cross compiler, so the
# boost headers are reached through a folder that holds nothing else.
set(boost_include ${CMAKE_BINARY_DIR}/boost-include)
file(MAKE_DIRECTORY ${boost_include})
if(NOT EXISTS ${boost_include}/boost)
  file(CREATE_LINK ${BOOST_HEADER_DIR} ${boost_include}/boost SYMBOLIC)
endif()

file(GLOB boost_filesystem_sources ${BOOST_SOURCE_DIR}/libs/filesystem/src/*.cpp)
add_library(boost_filesystem STATIC ${boost_filesystem_sources})
target_include_directories(boost_filesystem SYSTEM PUBLIC ${boost_include})
target_include_directories(boost_filesystem PRIVATE ${BOOST_SOURCE_DIR}/libs/filesystem/src)
target_compile_definitions(boost_filesystem
  PUBLIC BOOST_FILESYSTEM_STATIC_LINK=1 BOOST_ALL_NO_LIB BOOST_USE_WINDOWS_H
  # The random names of unique_path come from CryptoAPI (advapi32), which
  # Windows 2000 has; BCrypt would tie the programs to Vista and later.
  PRIVATE BOOST_FILESYSTEM_SOURCE BOOST_FILESYSTEM_HAS_WINCRYPT
          _SCL_SECURE_NO_WARNINGS _CRT_SECURE_NO_WARNINGS)
target_compile_options(boost_filesystem PRIVATE -w)
target_link_libraries(boost_filesystem PUBLIC advapi32)
add_library(Boost::filesystem ALIAS boost_filesystem)

add_library(boost_headers INTERFACE)
target_include_directories(boost_headers SYSTEM INTERFACE ${boost_include})
target_compile_definitions(boost_headers INTERFACE BOOST_ALL_NO_LIB BOOST_USE_WINDOWS_H)
add_library(Boost::system ALIAS boost_headers)

set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
add_subdirectory(${GOOGLETEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
