# Linux packaging: pkg-config files and the Debian packages (CPack). Included
# by the top-level CMakeLists.txt after every target is defined.

# ---- pkg-config ----
# calquor_pkg_config(<file> <library> <name> <description> [<requires>])
# Installs lib/pkgconfig/<file>.pc into the dev component. The prefix is the
# one the files are installed under (cmake --install --prefix, or /usr in the
# Debian packages), so it is written at install time.
function(calquor_pkg_config file library name description)
  set(pc_library ${library})
  set(pc_name ${name})
  set(pc_description ${description})
  set(pc_requires "${ARGN}")
  set(prefix "@prefix@")
  set(template ${PROJECT_BINARY_DIR}/pkgconfig/${file}.pc.in)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/pkgconfig/calquor.pc.in ${template} @ONLY)
  install(CODE "
    set(prefix \"\${CMAKE_INSTALL_PREFIX}\")
    configure_file(\"${template}\" \"${PROJECT_BINARY_DIR}/pkgconfig/install/${file}.pc\" @ONLY)
    file(INSTALL DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/pkgconfig\" TYPE FILE
         FILES \"${PROJECT_BINARY_DIR}/pkgconfig/install/${file}.pc\")"
    COMPONENT dev)
endfunction()

calquor_pkg_config(calquor-platform calquor_platform "Calquor platform"
  "Automation runtime stand-in of the Calquor formula engine: variants, wide strings, dates, components, registry")
calquor_pkg_config(calquor-clqmfc CLQMFC "Calquor (CLQMFC)"
  "Calquor formula engine, C++ library with the automation runtime's value rules"
  "calquor-platform = ${PROJECT_VERSION}")
calquor_pkg_config(calquor-vcl Calquor_VCL "Calquor (Calquor_VCL)"
  "Calquor formula engine, C++ library with the second runtime library's value rules"
  "calquor-platform = ${PROJECT_VERSION}")
