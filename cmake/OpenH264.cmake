# OpenH264 from Debian's source package (fetched by scripts/setup), built once per build tree by
# its own Makefile with this tree's compilers, SIMD included. Gives the imported target
# OpenH264::openh264 (static library, include as <wels/codec_api.h>) and OPENH264_LICENSE_FILE.
include(ExternalProject)

set(OPENH264_SOURCE_DIR "${PROJECT_SOURCE_DIR}/build/third_party/openh264"
    CACHE PATH "OpenH264's unpacked Debian source package")
if(NOT EXISTS "${OPENH264_SOURCE_DIR}/.fetched" OR NOT EXISTS "${OPENH264_SOURCE_DIR}/Makefile")
    message(FATAL_ERROR "OpenH264's source is missing (${OPENH264_SOURCE_DIR}): run scripts/setup")
endif()
file(STRINGS "${OPENH264_SOURCE_DIR}/.fetched" OPENH264_VERSION LIMIT_COUNT 1)
message(STATUS "OpenH264 ${OPENH264_VERSION} from ${OPENH264_SOURCE_DIR}")

find_program(OPENH264_NASM nasm REQUIRED)

# OpenH264's Makefile names its targets by OS and ARCH; an i386 ARCH selects the 32-bit asm.
if(WIN32)
    set(openh264_os mingw_nt)
else()
    set(openh264_os linux)
endif()
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(i.86|x86)$")
    set(openh264_arch i386)
else()
    set(openh264_arch ${CMAKE_SYSTEM_PROCESSOR})
endif()

# Flags the Makefile adds its own to (so they go in the environment, not on make's command line,
# where they would replace the Makefile's). The 32-bit Windows build realigns the stack where SSE
# code needs it: Windows promises threads only 4-byte alignment, and the encoder's threads start
# from CreateThread. No stack protector natively, so that the native build measures the same code
# as the Windows ones.
set(openh264_cflags "")
if(openh264_arch STREQUAL "i386")
    set(openh264_cflags "-msse2 -mfpmath=sse -mstackrealign")
endif()

cmake_host_system_information(RESULT openh264_jobs QUERY NUMBER_OF_LOGICAL_CORES)

# Built out of the shared source: the Makefile finds its sources beside itself, and writes only
# into the working directory, except that its version step reads a template relative to it.
set(openh264_binary_dir "${CMAKE_BINARY_DIR}/third_party/openh264")
set(openh264_library "${openh264_binary_dir}/libopenh264.a")
ExternalProject_Add(openh264_build
    SOURCE_DIR "${OPENH264_SOURCE_DIR}"
    BINARY_DIR "${openh264_binary_dir}"
    STAMP_DIR "${CMAKE_BINARY_DIR}/third_party/openh264-stamp"
    DOWNLOAD_COMMAND ""
    UPDATE_COMMAND ""
    # A new source (setup fetched it again) starts from no objects: make judges by timestamps,
    # and unpacked files keep the archive's.
    CONFIGURE_COMMAND ${CMAKE_COMMAND} -E rm -rf codec libopenh264.a
        COMMAND ${CMAKE_COMMAND} -E make_directory codec/common/inc
        COMMAND ${CMAKE_COMMAND} -E copy
            "${OPENH264_SOURCE_DIR}/codec/common/inc/version_gen.h.template" codec/common/inc/
    BUILD_COMMAND ${CMAKE_COMMAND} -E env "CFLAGS=${openh264_cflags}" "CXXFLAGS=" "LDFLAGS="
        make -s -j${openh264_jobs} -f "${OPENH264_SOURCE_DIR}/Makefile"
            OS=${openh264_os} ARCH=${openh264_arch} USE_STACK_PROTECTOR=No
            "CC=${CMAKE_C_COMPILER}" "CXX=${CMAKE_CXX_COMPILER}" "AR=${CMAKE_AR}"
            ASM=${OPENH264_NASM} V=No
            libopenh264.a
    INSTALL_COMMAND ""
    BUILD_BYPRODUCTS "${openh264_library}"
    LOG_BUILD ON
    LOG_OUTPUT_ON_FAILURE ON
)
ExternalProject_Add_StepDependencies(openh264_build configure "${OPENH264_SOURCE_DIR}/.fetched")

add_library(OpenH264::openh264 STATIC IMPORTED GLOBAL)
set_target_properties(OpenH264::openh264 PROPERTIES
    IMPORTED_LOCATION "${openh264_library}"
    INTERFACE_INCLUDE_DIRECTORIES "${OPENH264_SOURCE_DIR}/codec/api")
add_dependencies(OpenH264::openh264 openh264_build)
if(NOT WIN32)
    # Natively the encoder's threads are POSIX threads (on Windows they are CreateThread's).
    find_package(Threads REQUIRED)
    set_property(TARGET OpenH264::openh264 APPEND PROPERTY INTERFACE_LINK_LIBRARIES
        Threads::Threads m)
endif()

# BSD-2: the binary ships with OpenH264's copyright and licence. The Windows builds put it beside
# the exe; packaging takes it from OPENH264_LICENSE_FILE.
set(OPENH264_LICENSE_FILE "${OPENH264_SOURCE_DIR}/LICENSE")
if(WIN32)
    configure_file("${OPENH264_LICENSE_FILE}" "${CMAKE_BINARY_DIR}/main/OpenH264-LICENSE.txt"
        COPYONLY)
endif()
