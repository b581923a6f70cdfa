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

# ---- Debian packages ----
# cpack -G DEB in the build folder makes one package per component:
#   runtime -> libcalquor<major>: the versioned libraries and the servers
#   dev     -> libcalquor-dev: headers, CMake package, pkg-config files
#   tools   -> calquor-tools: calquor, calquor-regsvr, their man pages and
#              completion (whatever is installed in the tools component)
#   pydeb   -> python3-calquor: the Python package in Debian's layout, for
#              the python3 it was built with (when the Python package is built)
# Each carries the licence as its copyright file and a changelog.
set(CALQUOR_PACKAGE_CONTACT "Calquor developers <calquor@example.org>"
    CACHE STRING "Maintainer of the Debian packages")
set(CALQUOR_DEB_NAMES runtime libcalquor${PROJECT_VERSION_MAJOR} dev libcalquor-dev tools calquor-tools)
if(CALQUOR_PYTHON)
  list(APPEND CALQUOR_DEB_NAMES pydeb python3-calquor)
endif()

# The copyright file in the machine-readable format, from LICENSE: its text
# as the licence paragraph, each line indented, empty lines as " .".
file(READ ${PROJECT_SOURCE_DIR}/LICENSE calquor_license)
string(REGEX MATCH "Copyright \\(c\\) ([^\n]+)" _ "${calquor_license}")
set(calquor_copyright "${CMAKE_MATCH_1}")
string(REGEX REPLACE "^MIT License\n\n[^\n]*\n\n" "" calquor_license_body "${calquor_license}")
string(REGEX REPLACE "\n$" "" calquor_license_body "${calquor_license_body}")
string(REPLACE "\n\n" "\n.\n" calquor_license_body "${calquor_license_body}")
string(REPLACE "\n" "\n " calquor_license_body " ${calquor_license_body}")
set(calquor_debian ${PROJECT_BINARY_DIR}/debian)
file(CONFIGURE OUTPUT ${calquor_debian}/copyright CONTENT
"Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: Calquor

Files: *
Copyright: ${calquor_copyright}
License: MIT
${calquor_license_body}
")
# The changelog, compressed as Debian wants it (no timestamp, best ratio).
string(TIMESTAMP calquor_changelog_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(${PROJECT_SOURCE_DIR}/cmake/debian/changelog.in ${calquor_debian}/changelog @ONLY)
execute_process(COMMAND gzip -9nf ${calquor_debian}/changelog RESULT_VARIABLE calquor_rc)
if(NOT calquor_rc EQUAL 0)
  message(FATAL_ERROR "gzip failed on ${calquor_debian}/changelog")
endif()
set(calquor_pairs ${CALQUOR_DEB_NAMES})
while(calquor_pairs)
  list(POP_FRONT calquor_pairs component package)
  string(TOUPPER ${component} COMPONENT)
  set(CPACK_DEBIAN_${COMPONENT}_PACKAGE_NAME ${package})
  install(FILES ${calquor_debian}/copyright ${calquor_debian}/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package} COMPONENT ${component})
  set(calquor_deb_${component} ${package})
endwhile()
# lintian's tags that do not apply, each with its reason.
foreach(component runtime dev)
  set(package ${calquor_deb_${component}})
  configure_file(${PROJECT_SOURCE_DIR}/cmake/debian/${component}.lintian-overrides
                 ${calquor_debian}/overrides/${package} @ONLY)
  install(FILES ${calquor_debian}/overrides/${package}
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides COMPONENT ${component})
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME calquor)
set(CPACK_PACKAGE_VENDOR "Calquor developers")
set(CPACK_PACKAGE_CONTACT "${CALQUOR_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
# The install rules run with the final prefix (/usr) and a staging DESTDIR,
# so files written at install time (the pkg-config files) name /usr.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_DEB_COMPONENT_INSTALL ON)
# Every install component becomes a package: an install rule without one of
# the three components makes cpack fail (its "Unspecified" component is no
# valid package name) rather than leave the file silently out.
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Dependencies on system libraries from dpkg-shlibdeps; between the
# packages from the components' dependencies, at the same version.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS
    ${PROJECT_BINARY_DIR}/platform ${PROJECT_BINARY_DIR}/adapter)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
# A shlibs file and the ldconfig trigger for the versioned libraries.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/cmake/debian/triggers)
# Packaged binaries are stripped; the build folder keeps its symbols.
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION utils)
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION "formula engine for C++ hosts - libraries
Calquor compiles formula texts such as Round({Price}*{Qty}, 2) once and
calculates them as often as the host likes, with operand values and named
formulas from the host's data adapter.

This package holds the shared libraries CLQMFC and Calquor_VCL (the same
engine under two sets of value rules), their platform library and the
in-process automation servers Calquor_MFC and Calquor_Auto.")
set(CPACK_COMPONENT_DEV_DESCRIPTION "formula engine for C++ hosts - development files
Calquor compiles formula texts such as Round({Price}*{Qty}, 2) once and
calculates them as often as the host likes.

This package holds the headers, the CMake package (find_package(Calquor))
and the pkg-config files calquor-clqmfc, calquor-vcl and calquor-platform.")
set(CPACK_COMPONENT_TOOLS_DESCRIPTION "formula engine command-line tools
Calquor compiles formula texts such as Round({Price}*{Qty}, 2) once and
calculates them as often as the host likes.

This package holds calquor, which evaluates formulas given on the command
line or over every row of a CSV file, calquor-regsvr, which registers
the automation servers.")

# The python component is `cmake --install`'s copy of the Python package;
# python3-calquor carries its own copy in Debian's layout.
set(CPACK_COMPONENTS_ALL runtime dev tools)
if(CALQUOR_PYTHON)
  list(APPEND CPACK_COMPONENTS_ALL pydeb)
  set(CPACK_DEBIAN_PYDEB_PACKAGE_SECTION python)
  # The native modules are built for this interpreter's version only.
  set(CPACK_DEBIAN_PYDEB_PACKAGE_DEPENDS
      "python3 (>= ${Python_VERSION_MAJOR}.${Python_VERSION_MINOR}~), python3 (<< ${Python_VERSION_MAJOR}.${Python_VERSION_MINOR}.99)")
  set(CPACK_COMPONENT_PYDEB_DESCRIPTION "formula engine for C++ hosts - Python package
Calquor compiles formula texts such as Round({Price}*{Qty}, 2) once and
calculates them as often as the host likes.

This package holds the Python package calquor: an Engine object, row-wise
calculation over mappings and pandas DataFrames, and Dask partitions.")
endif()
include(CPack)
cpack_add_component(runtime)
cpack_add_component(dev DEPENDS runtime)
cpack_add_component(tools DEPENDS runtime)
if(CALQUOR_PYTHON)
  cpack_add_component(pydeb DEPENDS runtime)
endif()
