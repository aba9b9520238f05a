# SPDX-License-Identifier: ISC
# Makes the release archive NAME.tar.gz in the build directory BINARY: the
# programs in PROGRAMS, stripped with STRIP, their manual pages, LICENSE,
# README.md and NEWS.md from SOURCE.  Two builds of one commit give the same
# bytes: every file carries the commit's time, owner and group 0 and a
# fixed mode, the members are sorted, and gzip leaves out name and time.
# Run by the tarball target: cmake --build BUILD --target tarball.
foreach(var SOURCE BINARY NAME PROGRAMS STRIP)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "tarball.cmake needs ${var}")
  endif()
endforeach()

if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(epoch $ENV{SOURCE_DATE_EPOCH})
else()
  execute_process(COMMAND git -C ${SOURCE} log -1 --format=%ct
    OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE failed)
  if(failed OR epoch STREQUAL "")
    message(FATAL_ERROR "no commit time: build from a git checkout or set SOURCE_DATE_EPOCH")
  endif()
endif()

set(stage ${BINARY}/tarball/${NAME})
file(REMOVE_RECURSE ${BINARY}/tarball)
file(MAKE_DIRECTORY ${stage}/bin ${stage}/man/man1)
foreach(program IN LISTS PROGRAMS)
  get_filename_component(base ${program} NAME)
  execute_process(COMMAND ${STRIP} -o ${stage}/bin/${base} ${program} RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "cannot strip ${program}")
  endif()
endforeach()
file(GLOB pages ${SOURCE}/man/*.1)
file(COPY ${pages} DESTINATION ${stage}/man/man1)
file(COPY ${SOURCE}/LICENSE ${SOURCE}/README.md ${SOURCE}/NEWS.md DESTINATION ${stage})

execute_process(
  COMMAND tar --format=gnu --sort=name --mtime=@${epoch} --owner=0 --group=0
    --numeric-owner --mode=u=rwX,go=rX -C ${BINARY}/tarball -cf - ${NAME}
  COMMAND gzip -n -9
  OUTPUT_FILE ${BINARY}/${NAME}.tar.gz
  RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "tar failed")
endif()
file(REMOVE_RECURSE ${BINARY}/tarball)
message(STATUS "${BINARY}/${NAME}.tar.gz")
