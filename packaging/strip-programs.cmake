# Run by CPack between the install step and the package: strips the programs in the
# staging tree as Debian's dh_strip does.
file(GLOB programs "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/usr/bin/*")
foreach(program ${programs})
  execute_process(
    COMMAND strip --remove-section=.comment --remove-section=.note --strip-unneeded ${program}
    RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "cannot strip ${program}")
  endif()
endforeach()
