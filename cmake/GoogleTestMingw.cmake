# GoogleTest for the Win32 tests, built with the cross compiler from the
# Debian sources (Debian ships no mingw build of it). The tests then run
# under Wine.
set(WENDLE_GTEST_SOURCE /usr/src/googletest/googletest CACHE PATH "GoogleTest source tree")

if(NOT TARGET wendle_gtest)
  if(NOT EXISTS ${WENDLE_GTEST_SOURCE}/src/gtest-all.cc)
    message(FATAL_ERROR "GoogleTest sources not found in ${WENDLE_GTEST_SOURCE} (package googletest)")
  endif()
  add_library(wendle_gtest STATIC ${WENDLE_GTEST_SOURCE}/src/gtest-all.cc)
  # The win32 thread model of this mingw has no std::mutex, which GoogleTest's
  # thread start signal is built on: a header of ours, searched first, gives it.
  target_include_directories(wendle_gtest SYSTEM BEFORE PUBLIC ${CMAKE_CURRENT_LIST_DIR}/googletest-mingw
                                                              ${WENDLE_GTEST_SOURCE}/include)
  target_include_directories(wendle_gtest PRIVATE ${WENDLE_GTEST_SOURCE})

  add_library(wendle_gtest_main STATIC ${WENDLE_GTEST_SOURCE}/src/gtest_main.cc)
  target_link_libraries(wendle_gtest_main PUBLIC wendle_gtest)
endif()
