# Build helpers shared by every folder.
#
# Each source folder is one static library. A library sees only the headers of the
# folders it may depend on: it gets a private "include view" (a directory of symlinks
# under the build tree) holding itself and its allowed folders, so an include of a
# forbidden folder fails to compile. Headers are always included by their path from
# the top of the tree: #include "framework/Thread.h".

set(LAYERDECK_VIEWS_DIR ${CMAKE_BINARY_DIR}/include-views)

# layerdeck_include_view(<target> <folder>...)
function(layerdeck_include_view target)
  set(view ${LAYERDECK_VIEWS_DIR}/${target})
  foreach(folder ${ARGN})
    set(link ${view}/${folder})
    get_filename_component(parent ${link} DIRECTORY)
    file(MAKE_DIRECTORY ${parent})
    if(NOT EXISTS ${link})
      file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${folder} ${link} SYMBOLIC)
    endif()
  endforeach()
  target_include_directories(${target} PRIVATE ${view})
endfunction()

# Target name of a source folder: platform/gfx -> ld_platform_gfx
function(layerdeck_target_name out folder)
  string(REPLACE "/" "_" name ${folder})
  set(${out} ld_${name} PARENT_SCOPE)
endfunction()

# layerdeck_library(<folder> [DEPS <folder>...] [LIBS <targets>...] [PUBLIC_LIBS <targets>...])
# Sources are every .cpp/.c under the folder (sub-folders included) except main.cpp,
# which belongs to the folder's executable.
function(layerdeck_library folder)
  cmake_parse_arguments(A "" "" "DEPS;LIBS;PUBLIC_LIBS" ${ARGN})
  layerdeck_target_name(target ${folder})
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS
       ${CMAKE_SOURCE_DIR}/${folder}/*.cpp ${CMAKE_SOURCE_DIR}/${folder}/*.c)
  list(FILTER sources EXCLUDE REGEX "/main\\.cpp$")
  file(GLOB_RECURSE headers CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${folder}/*.h)
  if(sources)
    add_library(${target} STATIC ${sources} ${headers})
    set(scope PUBLIC)
  else()
    add_library(${target} INTERFACE)
    set(scope INTERFACE)
  endif()
  set(dep_targets)
  foreach(dep ${A_DEPS})
    layerdeck_target_name(dep_target ${dep})
    list(APPEND dep_targets ${dep_target})
  endforeach()
  target_link_libraries(${target} ${scope} ${dep_targets} ${A_PUBLIC_LIBS} Threads::Threads)
  if(sources)
    target_link_libraries(${target} PRIVATE ${A_LIBS})
    layerdeck_include_view(${target} ${folder} ${A_DEPS})
  endif()
  set_property(GLOBAL PROPERTY LAYERDECK_VIEW_${target} ${folder} ${A_DEPS})
endfunction()

# Folders a target of <folder> may see (itself and its allowed dependencies).
function(layerdeck_view_of out folder)
  layerdeck_target_name(target ${folder})
  get_property(folders GLOBAL PROPERTY LAYERDECK_VIEW_${target})
  set(${out} ${folders} PARENT_SCOPE)
endfunction()

# layerdeck_executable(<name> SOURCES <files> FOLDERS <folders seen> [LIBS <targets>])
function(layerdeck_executable name)
  cmake_parse_arguments(A "" "" "SOURCES;FOLDERS;LIBS" ${ARGN})
  add_executable(${name} ${A_SOURCES})
  set(dep_targets)
  foreach(folder ${A_FOLDERS})
    layerdeck_target_name(t ${folder})
    if(TARGET ${t})
      list(APPEND dep_targets ${t})
    endif()
  endforeach()
  target_link_libraries(${name} PRIVATE ${dep_targets} ${A_LIBS})
  layerdeck_include_view(${name} ${A_FOLDERS})
endfunction()

# layerdeck_tests(<label> FOLDERS <folders seen> [LIBS <targets>] [ENVIRONMENT <k=v>...]
#                 [SUPPORT <extra sources>])
# One test executable per *Test.cpp in the current directory, each one CTest test
# carrying <label>, so `ctest -L <label>` runs one folder's tests.
function(layerdeck_tests label)
  cmake_parse_arguments(A "" "" "FOLDERS;LIBS;ENVIRONMENT;SUPPORT" ${ARGN})
  file(GLOB test_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*Test.cpp)
  foreach(src ${test_sources})
    get_filename_component(base ${src} NAME_WE)
    set(exe ${label}_${base})
    layerdeck_executable(${exe} SOURCES ${src} ${A_SUPPORT}
                         FOLDERS ${A_FOLDERS} tests/support
                         LIBS ${A_LIBS} ld_test_support GTest::gtest_main GTest::gmock)
    add_test(NAME ${label}.${base} COMMAND ${exe})
    set_tests_properties(${label}.${base} PROPERTIES LABELS ${label} TIMEOUT 300)
    if(A_ENVIRONMENT)
      set_tests_properties(${label}.${base} PROPERTIES ENVIRONMENT "${A_ENVIRONMENT}")
    endif()
  endforeach()
endfunction()

# layerdeck_fuzz_target(<label> <name> SOURCE <file> FOLDERS <folders> [LIBS ...]
#                       [SEEDS <dir>] [RUNS <n>])
# A libFuzzer-style entry point (LLVMFuzzerTestOneInput). In ordinary builds it is linked
# with our own mutation driver and run for a bounded number of inputs as a test; with
# -DLAYERDECK_FUZZ=ON (clang) it is a real libFuzzer binary for long runs by hand.
function(layerdeck_fuzz_target label name)
  cmake_parse_arguments(A "" "SOURCE;SEEDS;RUNS" "FOLDERS;LIBS" ${ARGN})
  if(NOT A_RUNS)
    set(A_RUNS 20000)
  endif()
  set(exe fuzz_${name})
  if(LAYERDECK_FUZZ)
    layerdeck_executable(${exe} SOURCES ${A_SOURCE} FOLDERS ${A_FOLDERS} tests/support LIBS ${A_LIBS})
    target_compile_options(${exe} PRIVATE -fsanitize=fuzzer)
    target_link_options(${exe} PRIVATE -fsanitize=fuzzer)
  else()
    layerdeck_executable(${exe} SOURCES ${A_SOURCE} FOLDERS ${A_FOLDERS} tests/support
                         LIBS ${A_LIBS} ld_fuzz_driver)
    add_test(NAME ${label}.fuzz_${name} COMMAND ${exe} --runs=${A_RUNS} ${A_SEEDS})
    set_tests_properties(${label}.fuzz_${name} PROPERTIES LABELS "${label};fuzz" TIMEOUT 300)
  endif()
endfunction()
