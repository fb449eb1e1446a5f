# Shared build settings and the rules that keep the dependencies pointing down: base/ below
# everything, logic free of Qt, FFmpeg and windows, and nothing but the application using
# app/.

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
set_property(GLOBAL PROPERTY PINDLE_BASE_TARGETS "")
set_property(GLOBAL PROPERTY PINDLE_WIDGETS_TARGETS "")
set_property(GLOBAL PROPERTY PINDLE_LIBRARY_TARGETS "")
set_property(GLOBAL PROPERTY PINDLE_APP_TARGETS "")

function(_pindle_add_library name alias)
    add_library(${name} STATIC ${ARGN})
    add_library(${alias} ALIAS ${name})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} PUBLIC pindle_warnings)
    set_property(GLOBAL APPEND PROPERTY PINDLE_LIBRARY_TARGETS ${name})
endfunction()

# pindle_base_library(name alias SOURCES...): the program's vocabulary and runtime. It may
# link only the standard library, threads and nlohmann-json.
function(pindle_base_library name alias)
    _pindle_add_library(${name} ${alias} ${ARGN})
    set_property(GLOBAL APPEND PROPERTY PINDLE_BASE_TARGETS ${name})
    set_property(GLOBAL APPEND PROPERTY PINDLE_LOGIC_TARGETS ${name})
endfunction()

# pindle_logic_library(name alias SOURCES...): a static library of the program's own logic.
# It may link only other logic libraries, the platform interfaces and plain system libraries.
function(pindle_logic_library name alias)
    _pindle_add_library(${name} ${alias} ${ARGN})
    set_property(GLOBAL APPEND PROPERTY PINDLE_LOGIC_TARGETS ${name})
endfunction()

# pindle_backend_library(name alias SOURCES...): an implementation of platform headers over
# Qt, FFmpeg, XCB, curl... Only the application, backend tests and benchmarks link these.
function(pindle_backend_library name alias)
    _pindle_add_library(${name} ${alias} ${ARGN})
endfunction()

# pindle_widgets_library(name alias SOURCES...): windows over Qt Widgets, the shared ones in
# ui/ and each subsystem's own. Logic libraries may not link these.
function(pindle_widgets_library name alias)
    _pindle_add_library(${name} ${alias} ${ARGN})
    set_target_properties(${name} PROPERTIES AUTOMOC ON)
    set_property(GLOBAL APPEND PROPERTY PINDLE_WIDGETS_TARGETS ${name})
endfunction()

# pindle_app_targets(targets...): marks libraries of the composition root (app/), which no
# other library may link.
function(pindle_app_targets)
    set_property(GLOBAL APPEND PROPERTY PINDLE_APP_TARGETS ${ARGN})
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
            # Aliases by the name of their target, so the checks see one name for each.
            if(TARGET ${lib})
                get_target_property(aliased ${lib} ALIASED_TARGET)
                if(aliased)
                    set(lib ${aliased})
                endif()
            endif()
            if(lib IN_LIST seen)
                continue()
            endif()
            list(APPEND seen ${lib})
            if(TARGET ${lib})
                _pindle_collect_links(${lib} seen)
            endif()
        endforeach()
    endforeach()
    set(${out} ${seen} PARENT_SCOPE)
endfunction()

# Fails the configuration when a dependency points the wrong way:
# - a logic library reaches Qt, FFmpeg, X11, curl or a widgets library, directly or through
#   another target;
# - a base library links anything but the standard library, threads and nlohmann-json;
# - a library that is not the application's links one of the application's libraries.
function(pindle_check_logic_targets)
    get_property(widgets GLOBAL PROPERTY PINDLE_WIDGETS_TARGETS)
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
            if(lib IN_LIST widgets)
                message(FATAL_ERROR
                    "Logic library ${target} links the widgets library ${lib}: "
                    "windows use logic, never the other way.")
            endif()
        endforeach()
    endforeach()

    get_property(targets GLOBAL PROPERTY PINDLE_BASE_TARGETS)
    foreach(target IN LISTS targets)
        set(links "")
        _pindle_collect_links(${target} links)
        foreach(lib IN LISTS links)
            if(NOT lib MATCHES "^(pindle_warnings|Threads::Threads|nlohmann_json::nlohmann_json|-pthread|pthread)$")
                message(FATAL_ERROR
                    "Base library ${target} links ${lib}: base may link only the standard "
                    "library, Threads and nlohmann-json.")
            endif()
        endforeach()
    endforeach()

    get_property(app GLOBAL PROPERTY PINDLE_APP_TARGETS)
    get_property(targets GLOBAL PROPERTY PINDLE_LIBRARY_TARGETS)
    foreach(target IN LISTS targets)
        if(target IN_LIST app)
            continue()
        endif()
        set(links "")
        _pindle_collect_links(${target} links)
        foreach(lib IN LISTS links)
            if(lib IN_LIST app)
                message(FATAL_ERROR
                    "Library ${target} links the application library ${lib}: app/ uses the "
                    "subsystems, never the other way; hand what they need in from app/.")
            endif()
        endforeach()
    endforeach()
endfunction()
