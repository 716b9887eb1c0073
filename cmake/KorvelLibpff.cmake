# libpff for every target of ours, as one target name: korvel::libpff.
#
# By default it is built from Debian's source package kept in
# third_party/libpff (the original tarball, Debian's patches, then ours) with
# its own configure and make, staged in the build tree, and installed
# privately under <prefix>/lib/korvel-pst-repair where the program finds it
# through its RPATH. KORVEL_SYSTEM_LIBPFF=ON links the system's libpff instead.
#
# Either way libbfio is the system's: handles made with it are handed to
# libpff_file_open_file_io_handle, so both sides must share its ABI. The other
# libyal libraries (libcdata among them, which we patch) are the bundled ones,
# and our libpff exports nothing but libpff_*, so no other copy of them (the
# system's libbfio carries its own libcdata) can stand in for ours.

option(KORVEL_SYSTEM_LIBPFF "Build against the system's libpff instead of our patched build" OFF)

find_package(PkgConfig REQUIRED)

pkg_check_modules(LIBBFIO REQUIRED libbfio)

include(ExternalProject)

set(KORVEL_LIBPFF_DIR ${PROJECT_SOURCE_DIR}/third_party/libpff)
set(KORVEL_LIBPFF_TARBALL ${KORVEL_LIBPFF_DIR}/libpff_20180714.orig.tar.gz)
set(KORVEL_LIBPFF_SHA256 d9657aa592e2e155a5dbb49a019f99988e2347a8c7b939c21883e8be3003695b)
# Where the installed program looks for it, next to nothing of the system's.
set(KORVEL_PRIVATE_LIBDIR lib/korvel-pst-repair)

# Debian's series first, then ours, each in its file's order.
file(STRINGS ${KORVEL_LIBPFF_DIR}/debian/patches/series korvel_debian_series REGEX "^[^#]")
set(korvel_patch_files)
foreach(name ${korvel_debian_series})
  list(APPEND korvel_patch_files ${KORVEL_LIBPFF_DIR}/debian/patches/${name})
endforeach()
file(GLOB korvel_our_patches CONFIGURE_DEPENDS ${KORVEL_LIBPFF_DIR}/patches/[0-9]*.patch)
list(SORT korvel_our_patches)
list(APPEND korvel_patch_files ${korvel_our_patches})
set(korvel_patch_command)
foreach(patch ${korvel_patch_files})
  list(APPEND korvel_patch_command COMMAND patch -p1 --forward --quiet -i ${patch})
endforeach()

# The compiler of this build (and its launcher, ccache in developer builds).
set(korvel_libpff_cc ${CMAKE_C_COMPILER})
if(CMAKE_C_COMPILER_LAUNCHER)
  string(REPLACE ";" " " korvel_launcher "${CMAKE_C_COMPILER_LAUNCHER}")
  set(korvel_libpff_cc "${korvel_launcher} ${CMAKE_C_COMPILER}")
endif()

# The library and what it is made of; its tools, bindings and tests are not needed.
set(korvel_libpff_make)
foreach(dir include common libcerror libcthreads libcdata libclocale libcnotify libcsplit
            libuna libcfile libcpath libfcache libfdata libfdatetime libfguid libfvalue
            libfwnt libfmapi libpff)
  list(APPEND korvel_libpff_make COMMAND make -j2 -C <BINARY_DIR>/${dir})
endforeach()
list(POP_FRONT korvel_libpff_make)

# Our libpff built as the external project name in third_party/dir, staged
# under stage, with the C flags given.
function(korvel_add_libpff_build name dir stage cflags)
  ExternalProject_Add(${name}
    URL ${KORVEL_LIBPFF_TARBALL}
    URL_HASH SHA256=${KORVEL_LIBPFF_SHA256}
    DOWNLOAD_EXTRACT_TIMESTAMP ON
    PREFIX ${CMAKE_BINARY_DIR}/third_party/${dir}
    PATCH_COMMAND ${korvel_patch_command}
    CONFIGURE_COMMAND <SOURCE_DIR>/configure --prefix=${stage}
      --disable-static --enable-shared --disable-nls --disable-python
      --disable-dependency-tracking --silent
      --with-libbfio
      --with-libcerror=no --with-libcthreads=no --with-libcdata=no --with-libclocale=no
      --with-libcnotify=no --with-libcsplit=no --with-libuna=no --with-libcfile=no
      --with-libcpath=no --with-libfcache=no --with-libfdata=no --with-libfdatetime=no
      --with-libfguid=no --with-libfvalue=no --with-libfwnt=no --with-libfmapi=no
      "CC=${korvel_libpff_cc}" "CFLAGS=${cflags}"
    BUILD_COMMAND ${korvel_libpff_make}
    INSTALL_COMMAND make -C <BINARY_DIR>/libpff install
      COMMAND make -C <BINARY_DIR>/include install
    BUILD_IN_SOURCE ON
    BUILD_BYPRODUCTS ${stage}/lib/libpff.so
    LOG_CONFIGURE ON LOG_BUILD ON LOG_INSTALL ON LOG_OUTPUT_ON_FAILURE ON)
  # A changed patch, or a change here (its flags), starts again from a fresh
  # copy of the tarball: make alone would keep objects built otherwise.
  ExternalProject_Add_StepDependencies(${name} download ${korvel_patch_files}
    ${CMAKE_CURRENT_FUNCTION_LIST_FILE})
endfunction()

if(KORVEL_SYSTEM_LIBPFF)
  pkg_check_modules(LIBPFF REQUIRED IMPORTED_TARGET GLOBAL libpff)
  add_library(korvel::libpff ALIAS PkgConfig::LIBPFF)
  if(KORVEL_SANITIZE)
    # Our patched C is out of reach of the sanitizers in this build, which
    # links the system's libpff. A copy built with AddressSanitizer, of the
    # same soname and interface, is staged here; the tests that read damaged
    # mailboxes run with it in place of the system's (LD_LIBRARY_PATH).
    set(KORVEL_ASAN_LIBPFF_DIR ${CMAKE_BINARY_DIR}/third_party/libpff-asan-stage/lib
        CACHE INTERNAL "Where the AddressSanitizer build of our libpff is staged")
    korvel_add_libpff_build(korvel_libpff_asan_build libpff-asan
      ${CMAKE_BINARY_DIR}/third_party/libpff-asan-stage
      "-O1 -g -fsanitize=address -fno-omit-frame-pointer")
  endif()
  return()
endif()

set(KORVEL_LIBPFF_STAGE ${CMAKE_BINARY_DIR}/third_party/libpff-stage)
set(KORVEL_LIBPFF_LIBRARY ${KORVEL_LIBPFF_STAGE}/lib/libpff.so)
# GCC turns libyal's allocate-then-clear into calloc, which glibc serves
# without its per-thread cache: every structure libpff makes and frees for
# each item read took the allocator's slow paths both ways (about a
# fourteenth of a big folder's fill).
set(korvel_libpff_cflags "-O2 -g")
if(CMAKE_C_COMPILER_ID STREQUAL "GNU")
  string(APPEND korvel_libpff_cflags " -fno-optimize-strlen")
endif()
korvel_add_libpff_build(korvel_libpff_build libpff ${KORVEL_LIBPFF_STAGE} "${korvel_libpff_cflags}")

# The include directory must exist before the first build for the target to be used.
file(MAKE_DIRECTORY ${KORVEL_LIBPFF_STAGE}/include)
add_library(korvel::libpff SHARED IMPORTED GLOBAL)
set_target_properties(korvel::libpff PROPERTIES
  IMPORTED_LOCATION ${KORVEL_LIBPFF_LIBRARY}
  IMPORTED_SONAME libpff.so.1
  INTERFACE_INCLUDE_DIRECTORIES "${KORVEL_LIBPFF_STAGE}/include;${LIBBFIO_INCLUDE_DIRS}"
  INTERFACE_COMPILE_DEFINITIONS KORVEL_BUNDLED_LIBPFF=1)
add_dependencies(korvel::libpff korvel_libpff_build)

# The installed program finds it in the private directory; build-tree
# programs find the staged copy through CMake's build RPATH.
list(APPEND CMAKE_INSTALL_RPATH "$ORIGIN/../${KORVEL_PRIVATE_LIBDIR}")
install(DIRECTORY ${KORVEL_LIBPFF_STAGE}/lib/ DESTINATION ${KORVEL_PRIVATE_LIBDIR}
  FILES_MATCHING PATTERN "libpff.so*" PATTERN pkgconfig EXCLUDE)
