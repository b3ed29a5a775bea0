# Reads every #include of src/ and fails when a room includes a room that is not below it:
#
#   cmake -DSRC=<path to src> -P tools/check/rooms.cmake
#
# The build already refuses such an include (a room sees only the headers of the rooms it links);
# this says which line does it, and also catches a path that climbs out with "../".
# A room may include only rooms on a lower floor, so there can be no circle either.
set(floor_platform 0)
set(floor_store 1)
set(floor_device 2)
set(floor_editors 3)
set(floor_lock 3)
set(floor_mqtt 3)
set(floor_remote 3)
set(floor_schedule 3)
set(floor_startup 3)
set(floor_mainwindow 4)

if(NOT SRC OR NOT IS_DIRECTORY "${SRC}")
    message(FATAL_ERROR "rooms.cmake: pass -DSRC=<the src folder>")
endif()

get_filename_component(SRC "${SRC}" ABSOLUTE)
file(GLOB_RECURSE files RELATIVE "${SRC}" "${SRC}/*.h" "${SRC}/*.cpp")
set(faults "")
set(count 0)
foreach(file IN LISTS files)
    if(NOT file MATCHES "^([a-z]+)/")
        continue()  # main.cpp stands above every room
    endif()
    set(room ${CMAKE_MATCH_1})
    if(NOT DEFINED floor_${room})
        string(APPEND faults "\n  ${file}: the room ${room}/ has no floor in rooms.cmake")
        continue()
    endif()
    file(STRINGS "${SRC}/${file}" lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
    foreach(line IN LISTS lines)
        if(NOT line MATCHES "include[ \t]*\"([^\"]*)\"")
            continue()
        endif()
        set(path ${CMAKE_MATCH_1})
        if(path MATCHES "(^|/)\\.\\./")
            string(APPEND faults "\n  ${file}: ${path} climbs out of its room")
        elseif(path MATCHES "^([a-z]+)/")
            set(target ${CMAKE_MATCH_1})
            if(DEFINED floor_${target} AND NOT target STREQUAL room)
                math(EXPR count "${count} + 1")
                if(NOT floor_${target} LESS floor_${room})
                    string(APPEND faults "\n  ${file}: ${room}/ includes ${path}, which is not below it")
                endif()
            endif()
        endif()
    endforeach()
endforeach()

if(faults)
    message(FATAL_ERROR "Includes that run back up or sideways between rooms:${faults}")
endif()
message(STATUS "${count} includes between rooms, all of them downwards")
