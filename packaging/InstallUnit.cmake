# Run by `cmake --install`: the systemd user unit with ExecStart pointing at the
# velto of this install's prefix, whatever prefix was configured.
file(READ "${VELTO_UNIT_SOURCE}" unit)
string(REPLACE "ExecStart=/usr/local/bin/velto" "ExecStart=${CMAKE_INSTALL_PREFIX}/bin/velto" unit "${unit}")
file(WRITE "${VELTO_UNIT_STAGING}/velto.service" "${unit}")
file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/lib/systemd/user" TYPE FILE
     FILES "${VELTO_UNIT_STAGING}/velto.service")
