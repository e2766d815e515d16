# Fails when a file under CORE_DIR includes anything but a C++ standard header or another
# header of the core ("core/..."). Run as: cmake -DCORE_DIR=<dir> -P CheckCoreIncludes.cmake
cmake_minimum_required(VERSION 3.25)
set(standard_headers
    algorithm any array atomic barrier bit bitset cassert cctype cerrno cfloat charconv chrono
    cinttypes climits clocale cmath codecvt compare complex concepts condition_variable
    coroutine csetjmp csignal cstdarg cstddef cstdint cstdio cstdlib cstring ctime cuchar
    cwchar cwctype deque exception execution filesystem format forward_list fstream
    functional future initializer_list iomanip ios iosfwd iostream istream iterator latch
    limits list locale map memory memory_resource mutex new numbers numeric optional ostream
    queue random ranges ratio regex scoped_allocator semaphore set shared_mutex source_location
    span sstream stack stdexcept stop_token streambuf string string_view syncstream
    system_error thread tuple type_traits typeindex typeinfo unordered_map unordered_set
    utility valarray variant vector version)

file(GLOB_RECURSE core_files "${CORE_DIR}/*.h" "${CORE_DIR}/*.cpp" "${CORE_DIR}/*.inc")
if(NOT core_files)
    message(FATAL_ERROR "no core files under ${CORE_DIR}")
endif()
set(violations "")
foreach(file IN LISTS core_files)
    file(STRINGS "${file}" lines REGEX "^[ \t]*#[ \t]*include")
    foreach(line IN LISTS lines)
        if(line MATCHES "#[ \t]*include[ \t]*<([^>]+)>")
            if(NOT CMAKE_MATCH_1 IN_LIST standard_headers)
                list(APPEND violations "${file}: <${CMAKE_MATCH_1}>")
            endif()
        elseif(line MATCHES "#[ \t]*include[ \t]*\"([^\"]+)\"")
            if(NOT CMAKE_MATCH_1 MATCHES "^core/")
                list(APPEND violations "${file}: \"${CMAKE_MATCH_1}\"")
            endif()
        else()
            list(APPEND violations "${file}: ${line}")
        endif()
    endforeach()
endforeach()
if(violations)
    list(JOIN violations "\n  " text)
    message(FATAL_ERROR "The core includes what is not the standard library:\n  ${text}")
endif()
list(LENGTH core_files count)
message(STATUS "${count} core files include only the standard library and the core")
