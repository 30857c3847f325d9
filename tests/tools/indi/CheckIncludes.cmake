# Every quoted include of the INDI driver and of the code it shares with
# vela2cam names the public header, a file of those folders, or a libindi
# header: nothing of the library's insides.
set(_folders ${SOURCE_DIR}/tools/indi ${SOURCE_DIR}/tools/common)
set(_bad "")
foreach(_folder ${_folders})
    file(GLOB _sources ${_folder}/*.h ${_folder}/*.cpp)
    foreach(_source ${_sources})
        file(STRINGS ${_source} _lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
        # System includes may not reach into the library's sources either.
        file(STRINGS ${_source} _system REGEX "^[ \t]*#[ \t]*include[ \t]*<")
        foreach(_line ${_system})
            string(REGEX REPLACE "^[^<]*<([^>]+)>.*$" "\\1" _name "${_line}")
            if(EXISTS ${SOURCE_DIR}/src/${_name})
                list(APPEND _bad "${_source}: <${_name}>")
            endif()
        endforeach()
        foreach(_line ${_lines})
            string(REGEX REPLACE "^[^\"]*\"([^\"]+)\".*$" "\\1" _name "${_line}")
            if(_name STREQUAL "Vela2UsbCameraDll.h" OR EXISTS ${_folder}/${_name}
               OR EXISTS ${SOURCE_DIR}/tools/common/${_name}
               OR (_name MATCHES "^(indi[a-z]*|defaultdevice|eventloop|lilxml)\\.h$"
                   AND NOT EXISTS ${SOURCE_DIR}/src/${_name}))
                continue()
            endif()
            list(APPEND _bad "${_source}: ${_name}")
        endforeach()
    endforeach()
endforeach()
if(_bad)
    list(JOIN _bad "\n  " _text)
    message(FATAL_ERROR "includes beyond the public header:\n  ${_text}")
endif()
message(STATUS "the INDI driver and tools/common include only the public header")
