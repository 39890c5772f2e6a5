# The program's version, from the project's version and git: run at every build (cmake -P) so
# that a commit between two builds shows in the exe without configuring again.
#
#   cmake -DPROJECT_VERSION=1.0.0 -DSOURCE_DIR=... -DOUTPUT_DIR=... -P Version.cmake
#
# A release is the commit tagged v<project version> and is called 1.0.0. A build N commits after
# it is 1.0.0-N-gHASH (git describe); a build on the way to a version not yet tagged is
# 1.0.0-dev-gHASH; -dirty marks uncommitted changes; without git it is the project's version.
# Writes Version.h (for the version resource) and version.txt (for packaging) into OUTPUT_DIR,
# each only when it changed, so an unchanged version relinks nothing.
string(REGEX MATCH "^([0-9]+)\\.([0-9]+)\\.([0-9]+)$" _ "${PROJECT_VERSION}")
if(NOT CMAKE_MATCH_0)
    message(FATAL_ERROR "the project's version must be MAJOR.MINOR.PATCH, not '${PROJECT_VERSION}'")
endif()
set(numbers "${CMAKE_MATCH_1},${CMAKE_MATCH_2},${CMAKE_MATCH_3}")
set(version "${PROJECT_VERSION}")
set(past 0)

find_program(GIT git)
if(GIT AND EXISTS "${SOURCE_DIR}/.git")
    execute_process(COMMAND "${GIT}" describe --tags --match "v${PROJECT_VERSION}" --dirty
                    WORKING_DIRECTORY "${SOURCE_DIR}" OUTPUT_VARIABLE described
                    RESULT_VARIABLE tagged OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    if(tagged EQUAL 0)
        string(REGEX REPLACE "^v" "" version "${described}")
        if(version MATCHES "^[0-9.]+-([0-9]+)-g")
            set(past "${CMAKE_MATCH_1}")
        endif()
    else()
        execute_process(COMMAND "${GIT}" describe --always --dirty --abbrev=7 --exclude "*"
                        WORKING_DIRECTORY "${SOURCE_DIR}" OUTPUT_VARIABLE hash
                        RESULT_VARIABLE found OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
        if(found EQUAL 0 AND hash)
            set(version "${PROJECT_VERSION}-dev-g${hash}")
        endif()
    endif()
endif()

# file(CONFIGURE) leaves a file whose content is the same untouched.
file(CONFIGURE OUTPUT "${OUTPUT_DIR}/Version.h" CONTENT
"// Written by cmake/Version.cmake at build time.
#define QUARNELBY_VERSION \"${version}\"
#define QUARNELBY_VERSION_NUMBERS ${numbers},${past}
")
file(CONFIGURE OUTPUT "${OUTPUT_DIR}/version.txt" CONTENT "${version}\n")
