# The query reading of a service request is a unit of its own without dependencies, in a
# library of its own, so that the fuzz build has it without the service's HTTP library and
# database. Included by server/CMakeLists.txt and by the fuzz build.
add_library(corvale_server_query STATIC
    ${CMAKE_CURRENT_LIST_DIR}/ServiceQuery.cpp ${CMAKE_CURRENT_LIST_DIR}/ServiceQuery.h)
target_link_libraries(corvale_server_query PUBLIC corvale_common)
