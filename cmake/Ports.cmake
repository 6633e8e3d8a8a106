# Reads the loopback addresses of the local service and streaming server from scripts/ports.env,
# the one place they are kept.
file(STRINGS "${CMAKE_SOURCE_DIR}/scripts/ports.env" _strimo_ports REGEX "^[A-Z_]+=")
foreach(line IN LISTS _strimo_ports)
  string(REGEX MATCH "^([A-Z_]+)=(.*)$" _ "${line}")
  set(${CMAKE_MATCH_1} "${CMAKE_MATCH_2}")
endforeach()
