# calquor_add_module_resources(<target> <name> [SERVER] [STANDIN <sources...>])
#
# Gives a module that is also an in-process server its resources and its
# export list. On Windows: the type library compiled by widl from
# automation/win32/<name>.idl and embedded with automation/win32/<name>.rc
# (which may also name registry scripts from automation/), and the four
# entry points of automation/win32/server.def. On
# the stand-in: the resource table in the STANDIN sources and, for a
# SERVER, a version script that exports the entry points and that table.
include(${CMAKE_CURRENT_LIST_DIR}/CalquorInterface.cmake)

set(CALQUOR_WIDL_INCLUDE /usr/include/wine/wine/windows CACHE PATH "IDL files for widl (libwine-dev)")
set(CALQUOR_WIDL_LIBRARY /usr/lib/x86_64-linux-gnu/wine/x86_64-windows CACHE PATH "Where widl finds stdole2.tlb (wine)")

function(calquor_add_module_resources target name)
  cmake_parse_arguments(R "SERVER" "" "STANDIN" ${ARGN})
  set(dir ${PROJECT_SOURCE_DIR}/automation)
  if(WIN32)
    find_program(CALQUOR_WIDL NAMES ${CALQUOR_MINGW_TRIPLET}-widl widl REQUIRED)
    if(CMAKE_SIZEOF_VOID_P EQUAL 8)
      set(arch --win64)
    else()
      set(arch --win32)
    endif()
    set(out ${CMAKE_CURRENT_BINARY_DIR}/${target}-resources)
    file(MAKE_DIRECTORY ${out})
    add_custom_command(OUTPUT ${out}/${name}.tlb
      COMMAND ${CALQUOR_WIDL} ${arch} -t -I ${CALQUOR_WIDL_INCLUDE} -L ${CALQUOR_WIDL_LIBRARY}
              -o ${out}/${name}.tlb ${dir}/win32/${name}.idl
      DEPENDS ${dir}/win32/${name}.idl
      COMMENT "widl ${name}.idl")
    add_custom_target(${target}_typelib DEPENDS ${out}/${name}.tlb)
    add_dependencies(${target} ${target}_typelib)
    target_sources(${target} PRIVATE ${dir}/win32/${name}.rc)
    file(GLOB scripts ${dir}/${name}_*.rgs)
    set_source_files_properties(${dir}/win32/${name}.rc TARGET_DIRECTORY ${target} PROPERTIES
      OBJECT_DEPENDS "${out}/${name}.tlb;${scripts}")
    # windres finds the type library and the scripts by these folders.
    target_include_directories(${target} PRIVATE ${out} ${dir})
    # The entry points, undecorated; the plain library's C++ classes are
    # exported by their dllexport attribute besides.
    target_sources(${target} PRIVATE ${dir}/win32/server.def)
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
      # 32-bit: the .def names the entry points without their __stdcall
      # decoration (DllGetClassObject@12); the linker is told to match them.
      target_link_options(${target} PRIVATE -Wl,--enable-stdcall-fixup)
    endif()
  else()
    target_sources(${target} PRIVATE ${R_STANDIN})
    if(R_SERVER)
      # Only the entry points and the resource table leave the module.
      calquor_library_interface(${target} MODULE C_NAMES ${CALQUOR_ENTRY_POINTS} ${CALQUOR_STANDIN_EXPORTS})
    endif()
  endif()
endfunction()

# calquor_library_interface(<target> [MODULE] [CLASSES <class...>]
#                           [NAMESPACES <ns...>] [C_NAMES <name...>])
#
# Linux only: makes <target> a versioned library that hosts link
# (lib<name>.so.<major>, version <project version>; a MODULE, loaded by path
# and never linked, keeps its plain file name) and exports exactly the
# named interface under the symbol version node CALQUOR_<major>: every member,
# vtable and type information of each class in namespace calquor, everything
# in each namespace, and the C names. Every other default-visible name
# (inline members of the platform's classes, standard-library template
# instances) stays local, so the ABI hosts see is the documented one. The
# Windows modules keep their names and their exports (dllexport, .def).
function(calquor_library_interface target)
  cmake_parse_arguments(A "MODULE" "" "CLASSES;NAMESPACES;C_NAMES" ${ARGN})
  if(WIN32)
    return()
  endif()
  if(NOT A_MODULE)
    set_target_properties(${target} PROPERTIES VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR})
  endif()
  set(cxx)
  foreach(class ${A_CLASSES})
    string(APPEND cxx "      calquor::${class}::*;\n")
    foreach(kind "typeinfo" "typeinfo name" "vtable")
      string(APPEND cxx "      \"${kind} for calquor::${class}\";\n")
    endforeach()
  endforeach()
  foreach(ns ${A_NAMESPACES})
    # A version script pattern holds no blank: ? stands for it.
    string(APPEND cxx "      ${ns}::*;\n")
    foreach(kind "typeinfo?for" "typeinfo?name?for" "vtable?for" "guard?variable?for")
      string(APPEND cxx "      ${kind}?${ns}::*;\n")
    endforeach()
  endforeach()
  if(cxx)
    set(cxx "    extern \"C++\" {\n${cxx}    };\n")
  endif()
  set(c)
  foreach(name ${A_C_NAMES})
    string(APPEND c "    ${name};\n")
  endforeach()
  set(map ${CMAKE_CURRENT_BINARY_DIR}/${target}.map)
  file(CONFIGURE OUTPUT ${map} CONTENT [=[/* Generated from cmake/CalquorInterface.cmake: what lib@target@ exports. */
CALQUOR_@PROJECT_VERSION_MAJOR@ {
  global:
@cxx@@c@  local:
    *;
};
]=] @ONLY)
  target_link_options(${target} PRIVATE -Wl,--version-script=${map})
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${map})
endfunction()
