# Run by `cmake --install`: the systemd user unit (the launchd agent on macOS)
# starting the velto of this install's prefix, whatever prefix was configured.
get_filename_component(name "${VELTO_UNIT_SOURCE}" NAME)
file(READ "${VELTO_UNIT_SOURCE}" unit)
string(REPLACE "ExecStart=/usr/local/bin/velto" "ExecStart=${CMAKE_INSTALL_PREFIX}/bin/velto" unit "${unit}")
string(REPLACE "&" "&amp;" xmlPrefix "${CMAKE_INSTALL_PREFIX}")
string(REPLACE "<" "&lt;" xmlPrefix "${xmlPrefix}")
string(REPLACE "<string>/usr/local/bin/velto</string>" "<string>${xmlPrefix}/bin/velto</string>" unit "${unit}")
file(WRITE "${VELTO_UNIT_STAGING}/${name}" "${unit}")
file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/${VELTO_UNIT_DESTINATION}" TYPE FILE
     FILES "${VELTO_UNIT_STAGING}/${name}")
