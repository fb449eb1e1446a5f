# Shared build settings and the rule that keeps logic free of Qt and FFmpeg.

add_library(pindle_warnings INTERFACE)
target_compile_options(pindle_warnings INTERFACE
    -Wall -Wextra -Wshadow -Wconversion -Wnon-virtual-dtor -Wno-sign-conversion
    $<$<BOOL:${PINDLE_WERROR}>:-Werror>)

if(PINDLE_SANITIZE)
    target_compile_options(pindle_warnings INTERFACE
        -fsanitize=${PINDLE_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
    target_link_options(pindle_warnings INTERFACE -fsanitize=${PINDLE_SANITIZE})
endif()

# Coverage instrumentation for libFuzzer in every library the fuzz targets link.
if(PINDLE_FUZZ)
    target_compile_options(pindle_warnings INTERFACE -fsanitize=fuzzer-no-link)
endif()

set_property(GLOBAL PROPERTY PINDLE_LOGIC_TARGETS "")

# pindle_logic_library(name alias SOURCES...): a static library of the program's own logic.
# It may link only other logic libraries, the platform interfaces and plain system libraries.
function(pindle_logic_library name alias)
    add_library(${name} STATIC ${ARGN})
    add_library(${alias} ALIAS ${name})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} PUBLIC pindle_warnings)
    set_property(GLOBAL APPEND PROPERTY PINDLE_LOGIC_TARGETS ${name})
endfunction()

# pindle_backend_library(name alias SOURCES...): an implementation of platform headers over
# Qt, FFmpeg, XCB, curl... Only the application, backend tests and benchmarks link these.
function(pindle_backend_library name alias)
    add_library(${name} STATIC ${ARGN})
    add_library(${alias} ALIAS ${name})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} PUBLIC pindle_warnings)
endfunction()

function(_pindle_collect_links target out)
    set(seen ${${out}})
    foreach(prop LINK_LIBRARIES INTERFACE_LINK_LIBRARIES)
        get_target_property(libs ${target} ${prop})
        if(NOT libs)
            continue()
        endif()
        foreach(lib IN LISTS libs)
            string(REGEX REPLACE "^\\$<LINK_ONLY:(.*)>$" "\\1" lib "${lib}")
            if(lib IN_LIST seen)
                continue()
            endif()
            list(APPEND seen ${lib})
            if(TARGET ${lib})
                get_target_property(aliased ${lib} ALIASED_TARGET)
                if(aliased)
                    set(lib ${aliased})
                endif()
                _pindle_collect_links(${lib} seen)
            endif()
        endforeach()
    endforeach()
    set(${out} ${seen} PARENT_SCOPE)
endfunction()

# Fails the configuration when a logic library reaches Qt, FFmpeg, X11 or curl, directly or
# through another target.
function(pindle_check_logic_targets)
    get_property(targets GLOBAL PROPERTY PINDLE_LOGIC_TARGETS)
    foreach(target IN LISTS targets)
        set(links "")
        _pindle_collect_links(${target} links)
        foreach(lib IN LISTS links)
            if(lib MATCHES "^(Qt[0-9]*::|PkgConfig::(AV|SWS|X264|XCB|CURL|IMAGEQUANT))|pindle_.*_(qt|ffmpeg|x11|curl)$"
               OR lib MATCHES "(avcodec|avformat|avutil|swscale|xcb|curl|Qt6)")
                message(FATAL_ERROR
                    "Logic library ${target} links ${lib}: logic must use platform headers only.")
            endif()
        endforeach()
    endforeach()
endfunction()
