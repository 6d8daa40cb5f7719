# Compiles through Debian's ccache when it is installed (VELTRA_CCACHE=OFF turns it off, and a launcher given on
# the command line wins). The cache is ccache's own, in the user's cache folder (~/.cache/ccache), so a second build
# of the same sources is mostly cache hits: in another build folder of this clone, or in a clone in another folder.

option(VELTRA_CCACHE "Compile through ccache when it is installed" ON)

if(VELTRA_CCACHE AND NOT CMAKE_CXX_COMPILER_LAUNCHER)
    find_program(VELTRA_CCACHE_PROGRAM ccache)
    if(VELTRA_CCACHE_PROGRAM)
        # Compile lines name this clone's files by absolute path. With the clone as base folder, ccache hashes them
        # relative to the build folder; without the build folder in the hash (which -g would add) a clone elsewhere
        # hits too. A hit's debug information then names the folder that compiled it first. A build folder outside
        # the clone is cached only for itself. The depend mode takes the headers from the compiler's own dependency
        # file, so a miss costs no extra preprocessor run.
        set(VELTRA_COMPILER_LAUNCHER
            ${CMAKE_COMMAND} -E env CCACHE_BASEDIR=${CMAKE_SOURCE_DIR} CCACHE_NOHASHDIR=1 CCACHE_DEPEND=1
            ${VELTRA_CCACHE_PROGRAM})
        set(CMAKE_C_COMPILER_LAUNCHER ${VELTRA_COMPILER_LAUNCHER})
        set(CMAKE_CXX_COMPILER_LAUNCHER ${VELTRA_COMPILER_LAUNCHER})
        message(STATUS "Compiling through ${VELTRA_CCACHE_PROGRAM}")
    endif()
endif()
