include(GenerateExportHeader)

set(VELTRA_WARNINGS -Wall -Wextra -Wshadow -Wnon-virtual-dtor -Woverloaded-virtual)

if(VELTRA_SANITIZE)
    set(VELTRA_SANITIZE_FLAGS -fsanitize=${VELTRA_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
    add_compile_options(${VELTRA_SANITIZE_FLAGS})
    add_link_options(${VELTRA_SANITIZE_FLAGS})
endif()

# Warnings for our own code only; third-party headers come in as system headers.
function(veltra_warnings target)
    target_compile_options(${target} PRIVATE ${VELTRA_WARNINGS})
endfunction()

# veltra_add_library(<Name> SOURCES ... [EXPORT_MACRO <MACRO>])
# A shared library with hidden visibility, a generated <Name>Export.h beside the build tree,
# the alias Veltra::<Name>, and its own folder as the public include root.
function(veltra_add_library name)
    cmake_parse_arguments(ARG "" "EXPORT_MACRO;INCLUDE_ROOT" "SOURCES" ${ARGN})
    if(NOT ARG_EXPORT_MACRO)
        string(TOUPPER "${name}_EXPORT" ARG_EXPORT_MACRO)
    endif()
    if(NOT ARG_INCLUDE_ROOT)
        get_filename_component(ARG_INCLUDE_ROOT ${CMAKE_CURRENT_SOURCE_DIR} DIRECTORY)
    endif()
    add_library(${name} SHARED ${ARG_SOURCES})
    add_library(Veltra::${name} ALIAS ${name})
    set(export_dir ${CMAKE_BINARY_DIR}/exports)
    generate_export_header(${name}
        EXPORT_MACRO_NAME ${ARG_EXPORT_MACRO}
        EXPORT_FILE_NAME ${export_dir}/${name}/${name}Export.h)
    target_include_directories(${name} PUBLIC
        $<BUILD_INTERFACE:${ARG_INCLUDE_ROOT}>
        $<BUILD_INTERFACE:${export_dir}>)
    veltra_warnings(${name})
endfunction()

# Labels given by the suite name: a suite whose name contains one of these words gets the label
# in lower case; every other suite is "unit".
set(VELTRA_TEST_SLICES Render Net Threads)

# veltra_suite_labels(<out> <source>...)
# The labels of the test cases in these sources, from the suite names of their TEST lines, by the rule above.
# Configuring again when a source changes keeps them true.
function(veltra_suite_labels out)
    set(labels "")
    foreach(source IN LISTS ARGN)
        get_filename_component(path ${source} ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
        set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${path})
        file(STRINGS ${path} lines REGEX "^[ \t]*(TEST|TEST_F|TEST_P|TYPED_TEST|TYPED_TEST_P)[ \t]*\\(")
        foreach(line IN LISTS lines)
            string(REGEX MATCH "\\([ \t]*([A-Za-z0-9_]*)" suite "${line}")
            set(suite "${CMAKE_MATCH_1}")
            set(sliced FALSE)
            foreach(slice IN LISTS VELTRA_TEST_SLICES)
                if(suite MATCHES "${slice}")
                    string(TOLOWER ${slice} label)
                    list(APPEND labels ${label})
                    set(sliced TRUE)
                endif()
            endforeach()
            if(NOT sliced)
                list(APPEND labels unit)
            endif()
        endforeach()
    endforeach()
    list(REMOVE_DUPLICATES labels)
    set(${out} ${labels} PARENT_SCOPE)
endfunction()

# veltra_label_needs(<label> <target>...)
# The target veltra-tests-<label> builds what the tests of that label run: their executables and what those start or
# load at run time. The sanitizer passes build these instead of everything.
function(veltra_label_needs label)
    add_dependencies(veltra-tests-${label} ${ARGN})
endfunction()

# veltra_add_test_suite(<Name> SOURCES ... LIBRARIES ...)
# One GoogleTest executable per library; each case becomes a CTest test labelled by its suite.
function(veltra_add_test_suite name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBRARIES" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_LIBRARIES} VeltraTestSupport GTest::gtest GTest::gmock GTest::gtest_main)
    veltra_warnings(${name})

    veltra_suite_labels(labels ${ARG_SOURCES})
    foreach(label IN LISTS labels)
        veltra_label_needs(${label} ${name})
    endforeach()

    set(others "")
    foreach(slice IN LISTS VELTRA_TEST_SLICES)
        string(TOLOWER ${slice} label)
        gtest_discover_tests(${name}
            TEST_FILTER "*${slice}*.*"
            TEST_PREFIX "${name}."
            PROPERTIES LABELS ${label} TIMEOUT 120
            DISCOVERY_MODE PRE_TEST)
        list(APPEND others "*${slice}*.*")
    endforeach()
    list(JOIN others ":" others)
    gtest_discover_tests(${name}
        TEST_FILTER "-${others}"
        TEST_PREFIX "${name}."
        PROPERTIES LABELS unit TIMEOUT 120
        DISCOVERY_MODE PRE_TEST)
endfunction()
