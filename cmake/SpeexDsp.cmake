# SpeexDSP's resampler from Debian's source package (fetched by scripts/setup), compiled from its
# one source file with this tree's compiler: floating point, SSE/SSE2 on x86. Gives the target
# SpeexDsp::resampler (static library, include as <speex/speex_resampler.h>) and
# SPEEXDSP_LICENSE_FILE.
set(SPEEXDSP_SOURCE_DIR "${PROJECT_SOURCE_DIR}/build/third_party/speexdsp"
    CACHE PATH "SpeexDSP's unpacked Debian source package")
if(NOT EXISTS "${SPEEXDSP_SOURCE_DIR}/.fetched"
   OR NOT EXISTS "${SPEEXDSP_SOURCE_DIR}/libspeexdsp/resample.c")
    message(FATAL_ERROR "SpeexDSP's source is missing (${SPEEXDSP_SOURCE_DIR}): run scripts/setup")
endif()
file(STRINGS "${SPEEXDSP_SOURCE_DIR}/.fetched" SPEEXDSP_VERSION LIMIT_COUNT 1)
message(STATUS "SpeexDSP ${SPEEXDSP_VERSION} from ${SPEEXDSP_SOURCE_DIR}")

# The integer types header that the package's configure would write; MinGW's are in
# speexdsp_types.h itself, so only the native build reads it.
set(speexdsp_config_dir "${CMAKE_BINARY_DIR}/third_party/speexdsp/include")
file(CONFIGURE OUTPUT "${speexdsp_config_dir}/speexdsp_config_types.h" CONTENT [[
#ifndef SPEEXDSP_CONFIG_TYPES_H
#define SPEEXDSP_CONFIG_TYPES_H
#include <stdint.h>
typedef int16_t spx_int16_t;
typedef uint16_t spx_uint16_t;
typedef int32_t spx_int32_t;
typedef uint32_t spx_uint32_t;
#endif
]])

add_library(speexdsp_resampler STATIC "${SPEEXDSP_SOURCE_DIR}/libspeexdsp/resample.c")
add_library(SpeexDsp::resampler ALIAS speexdsp_resampler)
target_include_directories(speexdsp_resampler SYSTEM PUBLIC
    "${SPEEXDSP_SOURCE_DIR}/include" "${speexdsp_config_dir}")
# Without config.h: the choices configure would make are given here. EXPORT marks the API for a
# shared library; ours is static.
target_compile_definitions(speexdsp_resampler PRIVATE FLOATING_POINT "EXPORT=")
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|i.86|x86)$")
    # The inner products in SSE (single) and SSE2 (double); the 32-bit build has -msse2 already.
    target_compile_definitions(speexdsp_resampler PRIVATE USE_SSE USE_SSE2)
endif()
# Its own code, not ours: its warnings are not our -Wall -Wextra's business.
target_compile_options(speexdsp_resampler PRIVATE -w)
if(NOT WIN32)
    target_link_libraries(speexdsp_resampler PUBLIC m)
endif()

# BSD-3: the binary ships with SpeexDSP's copyright and licence. The Windows builds put it beside
# the exe; packaging takes it from SPEEXDSP_LICENSE_FILE.
set(SPEEXDSP_LICENSE_FILE "${SPEEXDSP_SOURCE_DIR}/COPYING")
if(WIN32)
    configure_file("${SPEEXDSP_LICENSE_FILE}" "${CMAKE_BINARY_DIR}/main/SpeexDSP-COPYING.txt"
        COPYONLY)
endif()
