# `cmake --install --strip` into a folder of its own, as the README installs:
# the systemd unit (the launchd agent on macOS) must start the velto of that
# prefix, and the manual pages must be there and read without warnings (when
# man is installed).
# Run with -DBUILD=<build folder> -DPREFIX=<a fresh folder>.
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD}" --prefix "${PREFIX}" --strip
                RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${result}")
endif()
if(CMAKE_HOST_APPLE)  # the launchd agent
  file(READ "${PREFIX}/share/velto/velto.plist" unit)
  string(FIND "${unit}" "\n    <string>${PREFIX}/bin/velto</string>\n" found)
else()
  file(READ "${PREFIX}/lib/systemd/user/velto.service" unit)
  string(FIND "${unit}" "\nExecStart=${PREFIX}/bin/velto\n" found)
endif()
if(found EQUAL -1 OR NOT EXISTS "${PREFIX}/bin/velto")
  message(FATAL_ERROR "the unit does not start an installed ${PREFIX}/bin/velto:\n${unit}")
endif()
# macOS's man (mandoc) has neither --warnings nor -l.
if(NOT CMAKE_HOST_APPLE)
  find_program(MAN man)
endif()
foreach(page velto velto-tools velto-grid velto-video velto-serialosc)
  set(file "${PREFIX}/share/man/man1/${page}.1")
  if(NOT EXISTS "${file}")
    message(FATAL_ERROR "no manual page ${file}")
  endif()
  if(MAN)
    execute_process(COMMAND "${MAN}" --warnings -l "${file}" WORKING_DIRECTORY "${PREFIX}/share/man"
                    RESULT_VARIABLE result OUTPUT_VARIABLE text ERROR_VARIABLE warnings)
    if(NOT result EQUAL 0 OR NOT warnings STREQUAL "" OR NOT text MATCHES "velto")
      message(FATAL_ERROR "man --warnings -l ${file}: ${result}\n${warnings}")
    endif()
  endif()
endforeach()
file(REMOVE_RECURSE "${PREFIX}")
