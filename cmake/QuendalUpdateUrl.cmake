# The address every updater program fetches its archive from is compiled in:
# a file beside the program could be swapped on the user's disk.

# Stops the configuration unless `url` is an http:// or https:// address with
# a host, a port from 1 to 65535 and a path that names a file.
function(quendal_check_update_url url)
  if(NOT url MATCHES "^https?://([^]/:@?#[ ]+|\\[[0-9A-Fa-f:.]+\\]):([0-9]+)/[^ ?#]*[^/ ?#]$")
    message(FATAL_ERROR "Update URL ${url}: need http:// or https://, a host, a port and a path naming the archive "
                        "(http://host:280/HTTP/Quendown/Quendal.zip)")
  endif()
  if(CMAKE_MATCH_2 LESS 1 OR CMAKE_MATCH_2 GREATER 65535)
    message(FATAL_ERROR "Update URL ${url}: port ${CMAKE_MATCH_2} is outside 1 to 65535")
  endif()
endfunction()

# Adds to `target` the definition of UpdateUrl() returning `url`.
function(quendal_target_update_url target url)
  quendal_check_update_url("${url}")
  set(QUENDAL_URL "${url}")
  set(source "${CMAKE_CURRENT_BINARY_DIR}/${target}_update_url.cpp")
  configure_file("${PROJECT_SOURCE_DIR}/app/core/update_url.cpp.in" "${source}" @ONLY)
  target_sources(${target} PRIVATE "${source}")
endfunction()
