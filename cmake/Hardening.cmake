# Debian's hardening flags for everything built here (what ships included): stack protector,
# fortified libc calls, format checks, relocations read-only and bound at load time.
find_program(DPKG_BUILDFLAGS dpkg-buildflags REQUIRED)
find_program(PATCHELF patchelf REQUIRED)

# The hardening part of one dpkg-buildflags set: optimisation, debug info and path mapping stay
# with the build type.
function(plinthos_hardening_flags out_var set_name)
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
            ${DPKG_BUILDFLAGS} --get ${set_name}
    OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  separate_arguments(flags UNIX_COMMAND "${flags}")
  list(FILTER flags EXCLUDE REGEX "^-(g|O.*|ffile-prefix-map=.*|fdebug-prefix-map=.*)$")
  set(${out_var} ${flags} PARENT_SCOPE)
endfunction()

plinthos_hardening_flags(PLINTHOS_HARDENING_CXXFLAGS CXXFLAGS)
plinthos_hardening_flags(PLINTHOS_HARDENING_CPPFLAGS CPPFLAGS)
plinthos_hardening_flags(PLINTHOS_HARDENING_LDFLAGS LDFLAGS)
add_compile_options(${PLINTHOS_HARDENING_CXXFLAGS})
# _FORTIFY_SOURCE only works with optimisation, and says so as a warning (an error here).
foreach(flag IN LISTS PLINTHOS_HARDENING_CPPFLAGS)
  add_compile_options($<$<NOT:$<CONFIG:Debug>>:${flag}>)
endforeach()
add_link_options(${PLINTHOS_HARDENING_LDFLAGS})
message(STATUS "Hardening: ${PLINTHOS_HARDENING_CXXFLAGS} ${PLINTHOS_HARDENING_CPPFLAGS} "
               "${PLINTHOS_HARDENING_LDFLAGS}")
