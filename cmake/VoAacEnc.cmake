# vo-aacenc (the AAC-LC encoder) from Debian's source package (fetched by scripts/setup), its plain C
# sources compiled by this build as a static library; the ARM assembler is left out. Gives the
# imported target VoAacEnc::vo-aacenc (include as <voAAC.h> and <cmnMemory.h>),
# VOAACENC_LICENSE_FILE and VOAACENC_NOTICE_FILE.
set(VOAACENC_SOURCE_DIR "${PROJECT_SOURCE_DIR}/build/third_party/vo-aacenc"
    CACHE PATH "vo-aacenc's unpacked Debian source package")
if(NOT EXISTS "${VOAACENC_SOURCE_DIR}/.fetched" OR NOT EXISTS "${VOAACENC_SOURCE_DIR}/Makefile.am")
    message(FATAL_ERROR "vo-aacenc's source is missing (${VOAACENC_SOURCE_DIR}): run scripts/setup")
endif()
file(STRINGS "${VOAACENC_SOURCE_DIR}/.fetched" VOAACENC_VERSION LIMIT_COUNT 1)
message(STATUS "vo-aacenc ${VOAACENC_VERSION} from ${VOAACENC_SOURCE_DIR}")

# The library's sources as its Makefile.am lists them.
set(voaacenc_sources common/cmnMemory.c aacenc/basic_op/basicop2.c aacenc/basic_op/oper_32b.c)
foreach(name aac_rom aacenc aacenc_core adj_thr band_nrg bit_cnt bitbuffer bitenc block_switch
        channel_map dyn_bits grp_data interface line_pe memalign ms_stereo pre_echo_control
        psy_configuration psy_main qc_main quantize sf_estim spreading stat_bits tns transform)
    list(APPEND voaacenc_sources aacenc/src/${name}.c)
endforeach()
list(TRANSFORM voaacenc_sources PREPEND "${VOAACENC_SOURCE_DIR}/")

add_library(vo-aacenc STATIC ${voaacenc_sources})
set_target_properties(vo-aacenc PROPERTIES C_STANDARD 99 C_EXTENSIONS ON)
target_include_directories(vo-aacenc SYSTEM
    PRIVATE "${VOAACENC_SOURCE_DIR}/aacenc/inc" "${VOAACENC_SOURCE_DIR}/aacenc/basic_op"
    PUBLIC "${VOAACENC_SOURCE_DIR}/common/include")
# Its own code, with its own warnings kept quiet (our -Wall -Wextra is for our code). Like OpenH264
# it is built without the sanitizers of the fuzzing tree: their findings there would be its own.
target_compile_options(vo-aacenc PRIVATE -w)
if(CMAKE_C_FLAGS MATCHES "-fsanitize")
    target_compile_options(vo-aacenc PRIVATE -fno-sanitize=all)
endif()
add_library(VoAacEnc::vo-aacenc ALIAS vo-aacenc)

# Apache-2.0: the binary ships with the licence and the NOTICE. The Windows builds put them beside
# the exe; packaging takes them from these variables.
set(VOAACENC_LICENSE_FILE "${VOAACENC_SOURCE_DIR}/COPYING")
set(VOAACENC_NOTICE_FILE "${VOAACENC_SOURCE_DIR}/NOTICE")
if(WIN32)
    configure_file("${VOAACENC_LICENSE_FILE}" "${CMAKE_BINARY_DIR}/main/vo-aacenc-LICENSE.txt"
        COPYONLY)
    configure_file("${VOAACENC_NOTICE_FILE}" "${CMAKE_BINARY_DIR}/main/vo-aacenc-NOTICE.txt"
        COPYONLY)
endif()
